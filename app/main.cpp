#include "platform_choice.h"
#include "start.h"

int main(int argc, char* argv[]) {
    // First of all, before the toolkit picks a platform: on a desktop that
    // offers XWayland, the program runs as an X11 window, so that its two
    // windows are placed and framed as it asks. A platform the user chose
    // always wins.
    pricelookup::PreferX11UnderWayland();
    return pricelookup::RunPriceLookup(argc, argv);
}
