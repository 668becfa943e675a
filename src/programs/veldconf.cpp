// veldconf: turns a CoAP client's settings into the AT+VELDCONF command
// lines that configure the module.
#include <cstdio>

#include "main.hpp"
#include "program.hpp"

int main(int argc, char *argv[]) {
    veld::binary_standard_streams();
    // The largest blob is 256 KiB of hex: written in pieces of 16 KiB, as
    // each fresh page of a larger buffer costs more than the writes it saves.
    static char out_buffer[1 << 14];
    std::setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
    return run_veldconf(argc, argv, stdout, stderr);
}
