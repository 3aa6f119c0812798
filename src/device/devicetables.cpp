// Key code maps (0x20), colour maps (0x30) and lighting mode tables (0x60/0x00..0x04).
#include "device.h"

#include <QDebug>
#include <algorithm>
#include <cstring>

namespace {
constexpr int ReportSize = 64;
constexpr int PageDataAt = 12; // entries of a page reply start after [map, first, last, 0]
constexpr int KeyEntrySize = 4;
constexpr int MaxSetLightingBytes = 52; // what fits after the four header bytes of the payload
constexpr int PayloadSize = 56;

// Sizes a table for `bytes` bytes. An unchanged size keeps the contents; a new size starts from zeros.
void fitTable(std::vector<uint8_t>& table, size_t bytes)
{
    if (table.size() != bytes)
        table.assign(bytes, 0);
}

// Entries the table really holds: the reported count, never more than was allocated.
int entriesOf(const std::vector<uint8_t>& table, uint8_t count, int entrySize)
{
    return std::min<int>(count, int(table.size()) / entrySize);
}

// Whether [first, last] is a non-empty range of at most maxEntries inside a table of `entries`.
bool rangeFits(int first, int last, int entries, int maxEntries)
{
    return first >= 0 && last >= first && last < entries && last - first + 1 <= maxEntries;
}

// Builds [map, first, last, 0, data...] and returns its length.
uint16_t buildRangePayload(uint8_t* payload, uint8_t map, int first, int last, const uint8_t* data, int dataBytes)
{
    std::memset(payload, 0, PayloadSize);
    payload[0] = map;
    payload[1] = uint8_t(first);
    payload[2] = uint8_t(last);
    std::memcpy(payload + 4, data, size_t(dataBytes));
    return uint16_t(4 + dataBytes);
}
}

// --- shared page reading ----------------------------------------------------------------------

uint32_t Device::readKeyPage(uint8_t group, uint8_t map, int first, int last, uint8_t* dest, int room,
                             int entrySize, bool echoRange, const PageRanges& askedBefore)
{
    const int maxEntries = entrySize == KeyEntrySize ? KeyPage : LightingPage;
    const int requested = last - first + 1;
    if (!dest || first < 0 || last > 0xFF || requested < 1 || requested > maxEntries || room < 1)
        return DeviceResult::BadIndex;

    const uint8_t command = group == 0x60 ? 0x03 : 0x10;
    const uint8_t payload[4] = {map, uint8_t(first), uint8_t(last), 0};
    // Key codes are taken only from a reply naming map and page. Colour and lighting pages have no echo
    // check: a keyboard may name a wider, shorter or zero range, a fixed one or the page before. A reply
    // naming another page this read asked for may be the late answer to that request, so it is held while
    // this page's own reply, or one naming a range not asked before, may still come (heldPageWait).
    ReplyFilter accept;
    HoldFilter holdable;
    if (echoRange) {
        accept = [map, first, last](const uint8_t* r) {
            return r[8] == map && r[9] == uint8_t(first) && r[10] == uint8_t(last);
        };
    } else {
        // The last page of the read before lags into this read's first just as well.
        PageRanges earlier = askedBefore;
        const auto before = m_lastPageAsked.find(group);
        if (before != m_lastPageAsked.end())
            earlier.push_back(before->second);
        m_lastPageAsked[group] = {first, last};
        auto namesEarlierPage = [earlier, first, last](const uint8_t* r) {
            if (r[9] == uint8_t(first) && r[10] == uint8_t(last))
                return false;
            for (const auto& page : earlier)
                if (r[9] == uint8_t(page.first) && r[10] == uint8_t(page.second))
                    return true;
            return false;
        };
        accept = [namesEarlierPage](const uint8_t* r) { return !namesEarlierPage(r); };
        holdable = [this, namesEarlierPage, group](const uint8_t* r) {
            return namesEarlierPage(r) ? heldPageWait(group, r) : NotHeld;
        };
    }
    PageReplies& seen = m_pageReplies[group];
    if (!echoRange && askedBefore.empty()) { // a read's first page
        seen.noOwnReply = false;
        if (seen.taken.size() > 1)
            seen.taken.erase(seen.taken.begin(), seen.taken.end() - 1);
    }
    uint8_t reply[ReportSize] = {};
    ReplyWay way = ReplyWay::Accepted;
    const uint32_t e = request(group, command, sizeof payload, 0, payload, DeviceTimeout::Get, reply, accept,
                               false, holdable, &way);
    if (e != DeviceResult::Ok)
        return e;
    if (!echoRange) {
        // Taken at once for want of an own reply in this read, it says nothing of the keyboard's naming.
        seen.otherEntries = seen.otherEntries || (way == ReplyWay::HeldAfterGrace && !seen.noOwnReply);
        seen.noOwnReply = seen.noOwnReply || way == ReplyWay::HeldAtWaitEnd;
        if (seen.taken.size() >= size_t(MaxPageRepliesKept))
            seen.taken.erase(seen.taken.begin());
        seen.taken.emplace_back(reinterpret_cast<const char*>(reply), ReportSize);
    }

    // Without the echo check the reply says how many entries it carries; never take more than was asked. A
    // held reply names another page: its count is that page's, so it is taken for the page asked.
    const bool countNamed = !echoRange && way == ReplyWay::Accepted;
    const int named = countNamed ? (reply[10] >= reply[9] ? reply[10] - reply[9] + 1 : 0) : requested;
    const int n = std::min({named, requested, room, (ReportSize - PageDataAt) / entrySize});
    if (n > 0)
        std::memcpy(dest, reply + PageDataAt, size_t(n * entrySize));
    return DeviceResult::Ok;
}

int Device::heldPageWait(uint8_t group, const uint8_t* reply) const
{
    const auto found = m_pageReplies.find(group);
    if (found == m_pageReplies.end())
        return HeldPageGraceMs;
    const PageReplies& seen = found->second;
    // This read's pages were seen to get no reply of their own: waiting would only cost.
    if (seen.noOwnReply)
        return 0;
    // The same bytes as a reply taken: a repeat of that reply, which a keyboard may send just ahead of
    // this page's own, however late that comes. Taken only when nothing else came within the wait.
    const QByteArray report(reinterpret_cast<const char*>(reply), ReportSize);
    if (std::find(seen.taken.begin(), seen.taken.end(), report) != seen.taken.end())
        return TakeAtWaitEnd;
    // Other entries under an earlier page's name: a keyboard naming a fixed page or the page before. The
    // first is given a grace for its own reply behind it; once such a reply was taken, the others need not.
    return seen.otherEntries ? 0 : HeldPageGraceMs;
}

uint32_t Device::readPaged(int count, int pageSize,
                           const std::function<uint32_t(int, int, const PageRanges&)>& readRange)
{
    if (count <= 0 || pageSize <= 0)
        return DeviceResult::Ok;
    const int pages = count / pageSize;
    const int rest = count % pageSize;
    uint32_t result = DeviceResult::Ok;
    PageRanges asked;
    // A failing page does not stop the others; the first failure is what the caller hears.
    auto page = [&](int first, int last) {
        const uint32_t e = readRange(first, last, asked);
        asked.emplace_back(first, last);
        if (result == DeviceResult::Ok)
            result = e;
        return e != DeviceResult::Stopped;
    };
    for (int p = 0; p < pages; ++p) {
        if (!page(p * pageSize, p * pageSize + pageSize - 1))
            return result;
    }
    if (rest > 0)
        page(pages * pageSize, pages * pageSize + rest - 1);
    return result;
}

// --- key code maps ----------------------------------------------------------------------------

uint32_t Device::getKCInfo()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x20, 0x00, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e != DeviceResult::Ok)
        return e;
    m_nkcm = reply[8];
    m_nkc = reply[9];
    fitTable(m_pKCs, size_t(m_nkc) * KeyEntrySize);
    return DeviceResult::Ok;
}

uint32_t Device::getCurKCMID()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x20, 0x01, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e != DeviceResult::Ok)
        return e;
    m_curkcm = reply[8];
    return DeviceResult::Ok;
}

uint32_t Device::setCurKCMID(uint8_t map)
{
    qDebug() << "Enter setCurKCMID";
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x20, 0x02, 1, 0, &map, DeviceTimeout::Bounded, reply);
    qDebug("sendCmd e =%x", e);
    if (e != DeviceResult::Ok)
        return e;
    const uint32_t status = le::u32(reply + 8);
    if (status != 0)
        return status;
    m_curkcm = map;
    qDebug("setCurKCMID kcm=%d m_curkcm=%d", map, m_curkcm);
    return DeviceResult::Ok;
}

uint32_t Device::getKC(uint8_t first, uint8_t last, uint8_t* dest)
{
    return readKeyPage(0x20, m_curkcm, first, last, dest, last - first + 1, KeyEntrySize, true);
}

uint32_t Device::setKC(uint8_t first, uint8_t last, const uint8_t* entries)
{
    if (!entries || m_pKCs.empty() || !rangeFits(first, last, entriesOf(m_pKCs, m_nkc, KeyEntrySize), KeyPage))
        return DeviceResult::BadIndex;
    const int n = last - first + 1;
    uint8_t payload[PayloadSize];
    const uint16_t length = buildRangePayload(payload, m_curkcm, first, last, entries, n * KeyEntrySize);
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x20, 0x11, length, 0, payload, DeviceTimeout::Bounded, reply);
    if (e != DeviceResult::Ok)
        return e;
    if (le::u32(reply + 8) != 0 || reply[12] != m_curkcm || reply[13] != first || reply[14] != last)
        return DeviceResult::SetKCRejected;
    std::memcpy(m_pKCs.data() + first * KeyEntrySize, entries, size_t(n * KeyEntrySize));
    return DeviceResult::Ok;
}

uint32_t Device::getAllKC()
{
    const int n = entriesOf(m_pKCs, m_nkc, KeyEntrySize);
    return readPaged(n, KeyPage, [this, n](int first, int last, const PageRanges&) {
        return readKeyPage(0x20, m_curkcm, first, last, m_pKCs.data() + first * KeyEntrySize, n - first,
                           KeyEntrySize, true);
    });
}

// --- colour maps ------------------------------------------------------------------------------

uint32_t Device::getKRInfo()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x30, 0x00, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e == DeviceResult::Timeout) {
        // A keyboard without colour maps does not answer: it has no colour table.
        m_nkr = 0;
        m_nkrm = 0;
        m_curkrm = 0xFF;
        m_pKRs.clear();
        return DeviceResult::Ok;
    }
    if (e != DeviceResult::Ok)
        return e;
    m_nkrm = reply[8];
    m_nkr = reply[9];
    fitTable(m_pKRs, size_t(m_nkr) * KeyEntrySize);
    return DeviceResult::Ok;
}

uint32_t Device::getCurKRMID()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x30, 0x01, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e == DeviceResult::Timeout && m_nkr == 0)
        return DeviceResult::Ok; // no colour maps: the current map stays unknown
    if (e != DeviceResult::Ok)
        return e;
    m_curkrm = reply[8];
    return DeviceResult::Ok;
}

uint32_t Device::setCurKRMID(uint8_t map)
{
    const uint32_t status = statusRequest(0x30, 0x02, 1, &map);
    if (status == DeviceResult::Ok)
        m_curkrm = map;
    return status;
}

uint32_t Device::getKR(uint8_t first, uint8_t last, uint8_t* dest)
{
    return readKeyPage(0x30, m_curkrm, first, last, dest, last - first + 1, KeyEntrySize, false);
}

uint32_t Device::setKR(uint8_t first, uint8_t last, const uint8_t* entries)
{
    if (!entries || m_pKRs.empty() || !rangeFits(first, last, entriesOf(m_pKRs, m_nkr, KeyEntrySize), KeyPage))
        return DeviceResult::BadIndex;
    const int n = last - first + 1;
    uint8_t payload[PayloadSize];
    const uint16_t length = buildRangePayload(payload, m_curkrm, first, last, entries, n * KeyEntrySize);
    // The keyboard's status is not looked at: the colour shows on the keys either way.
    const uint32_t e = request(0x30, 0x11, length, 0, payload, DeviceTimeout::Bounded, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    std::memcpy(m_pKRs.data() + first * KeyEntrySize, entries, size_t(n * KeyEntrySize));
    return DeviceResult::Ok;
}

uint32_t Device::getAllKR()
{
    const int n = entriesOf(m_pKRs, m_nkr, KeyEntrySize);
    return readPaged(n, KeyPage, [this, n](int first, int last, const PageRanges& asked) {
        return readKeyPage(0x30, m_curkrm, first, last, m_pKRs.data() + first * KeyEntrySize, n - first,
                           KeyEntrySize, false, asked);
    });
}

QColor Device::keyColor(int index) const
{
    if (index < 0 || index >= entriesOf(m_pKRs, m_nkr, KeyEntrySize))
        return QColor();
    const uint8_t* e = m_pKRs.data() + index * KeyEntrySize;
    return QColor(e[2], e[1], e[0]);
}

uint32_t Device::setKeyColor(int index, const QColor& color)
{
    if (index < 0 || index >= entriesOf(m_pKRs, m_nkr, KeyEntrySize)) {
        qWarning() << "setKeyColor: no colour entry" << index;
        return DeviceResult::BadIndex;
    }
    const uint8_t entry[KeyEntrySize] = {uint8_t(color.blue()), uint8_t(color.green()), uint8_t(color.red()), 0};
    return setKR(uint8_t(index), uint8_t(index), entry);
}

// --- lighting mode tables ---------------------------------------------------------------------

uint32_t Device::getLMInfo()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x60, 0x00, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e == DeviceResult::Timeout) {
        // A keyboard without lighting modes does not answer: it has no lighting mode table.
        m_nlm = 0;
        m_pLMMs.clear();
        m_nlmm = 0;
        m_curlm = 0xFF;
        return DeviceResult::Ok;
    }
    if (e != DeviceResult::Ok)
        return e;
    m_nlmm = reply[8];
    m_nlm = reply[9];
    qDebug("m_nlmm=%d m_nlm=%d %d ", m_nlmm, m_nlm, m_nlm);
    fitTable(m_pLMMs, m_nlm);
    return DeviceResult::Ok;
}

uint32_t Device::getCurLM()
{
    uint8_t reply[ReportSize] = {};
    const uint32_t e = request(0x60, 0x01, 0, 0, nullptr, DeviceTimeout::Get, reply);
    if (e == DeviceResult::Timeout && m_nlm == 0)
        return DeviceResult::Ok; // no lighting modes: the current mode stays unknown
    if (e != DeviceResult::Ok)
        return e;
    m_curlm = reply[8];
    return DeviceResult::Ok;
}

uint32_t Device::setCurLM(uint8_t mode)
{
    const uint32_t status = statusRequest(0x60, 0x02, 1, &mode);
    if (status == DeviceResult::Ok)
        m_curlm = mode;
    return status;
}

uint32_t Device::getLMM(uint8_t start, uint8_t end, uint8_t* dest)
{
    return readKeyPage(0x60, m_curlm, start, end, dest, end - start + 1, 1, false);
}

uint32_t Device::setLMM(int start, int end, const uint8_t* bytes)
{
    if (!bytes || m_pLMMs.empty() || !rangeFits(start, end, entriesOf(m_pLMMs, m_nlm, 1), MaxSetLightingBytes))
        return DeviceResult::BadIndex;
    const int n = end - start + 1;
    uint8_t payload[PayloadSize];
    const uint16_t length = buildRangePayload(payload, m_curlm, start, end, bytes, n);
    // The keyboard's status is not looked at; only a reply within the bounded wait counts as written.
    const uint32_t e = request(0x60, 0x04, length, 0, payload, DeviceTimeout::Bounded, nullptr);
    if (e != DeviceResult::Ok)
        return e;
    std::memcpy(m_pLMMs.data() + start, bytes, size_t(n));
    return DeviceResult::Ok;
}

uint32_t Device::getCurLMM()
{
    const int n = entriesOf(m_pLMMs, m_nlm, 1);
    qDebug("m_nlm=%d round=%d mod=%d", m_nlm, n / LightingPage, n % LightingPage);
    return readPaged(n, LightingPage, [this, n](int first, int last, const PageRanges& asked) {
        const uint32_t e =
            readKeyPage(0x60, m_curlm, first, last, m_pLMMs.data() + first, n - first, 1, false, asked);
        if (last - first + 1 == LightingPage)
            qDebug("%d sid=%d eid=%d", first / LightingPage, first, last);
        else
            qDebug("sid=%d eid=%d", first, last);
        return e;
    });
}
