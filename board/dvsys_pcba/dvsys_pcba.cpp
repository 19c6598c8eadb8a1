// dvsys_pcba: the board-information record. The board's boot stage describes the board in the
// device tree ("phonesim,pcba", property board-version); this driver keeps what it says for
// drivers that differ by board or region. Before the node is bound, and after, the version is
// null; a node without the property gives an error pointer.
#include <platform/device.h>
#include <platform/err.h>
#include <platform/module.h>
#include <platform/of.h>
#include <platform/pcba.h>
#include <platform/platform_device.h>
#include <platform/string.h>

static char pcba_board_version[64];
static struct pcba_msg pcba_msg_record;

struct pcba_msg *get_pcba_msg(void) {
    return &pcba_msg_record;
}
EXPORT_SYMBOL_GPL(get_pcba_msg);

static int dvsys_pcba_probe(struct platform_device *pdev) {
    const char *version;
    int ret = of_property_read_string(pdev->dev.of_node, "board-version", &version);

    if (ret) {
        dev_warn(&pdev->dev, "no board-version: %d\n", ret);
        pcba_msg_record.board_version = (const char *)ERR_PTR(ret);
        return 0;
    }
    snprintf(pcba_board_version, sizeof(pcba_board_version), "%s", version);
    pcba_msg_record.board_version = pcba_board_version;
    dev_info(&pdev->dev, "board version %s\n", pcba_board_version);
    return 0;
}

static int dvsys_pcba_remove(struct platform_device *) {
    pcba_msg_record.board_version = nullptr;
    return 0;
}

static const struct of_device_id dvsys_pcba_of_match[] = {
    {.compatible = "phonesim,pcba"},
    {},
};
MODULE_DEVICE_TABLE(of, dvsys_pcba_of_match);

static struct platform_driver dvsys_pcba_driver = {
    .probe = dvsys_pcba_probe,
    .remove = dvsys_pcba_remove,
    .driver =
        {
            .name = "dvsys_pcba",
            .of_match_table = dvsys_pcba_of_match,
        },
};
module_platform_driver(dvsys_pcba_driver);

MODULE_DESCRIPTION("Board information record");
MODULE_LICENSE("GPL v2");
