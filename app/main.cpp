#include <cstdio>

int main() {
    std::puts("Tavrin: the main window is not built yet; the rename engine and its tests are.");
    return 0;
}
