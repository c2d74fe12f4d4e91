#include <cstdio>

// The windows are not built yet; say so rather than pretend to run.
int main() {
    std::fprintf(stderr, "ferrydesk: the user interface is not built yet; nothing to show.\n");
    return 1;
}
