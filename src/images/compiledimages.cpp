#include "compiledimages.h"

#include <QtGlobal>

// Q_INIT_RESOURCE must be used outside any namespace.
static void registerImagesQrc() { Q_INIT_RESOURCE(images); }

void initCompiledImages()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    registerImagesQrc();
}
