#include "start.h"

int main(int argc, char* argv[]) {
    return pricelookup::RunPriceLookup(argc, argv);
}
