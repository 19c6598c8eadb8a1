// Board information (module dvsys_pcba): the record the board's boot stage leaves, read from
// the device tree.
#pragma once

struct pcba_msg {
    // "MP1.0-eea" and the like; null (or an error pointer) when the board did not say.
    const char *board_version;
};

extern "C" {
// Never null.
struct pcba_msg *get_pcba_msg(void);
}
