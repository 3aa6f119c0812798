// Linked with the protocol and platform layers whole and nothing above them; it only has to link.
int main() { return 0; }
