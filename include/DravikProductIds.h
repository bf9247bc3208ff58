/* USB identifiers of the probe models. The system names the model from the product id; the bench
 * builds its simulated probes from the same values. */
#ifndef DRAVIK_PRODUCT_IDS_H
#define DRAVIK_PRODUCT_IDS_H

#define DRAVIK_USB_VENDOR_ID 0xD7A0u
#define DRAVIK_PRODUCT_ID_V1 0x0101u /* the first generation has one model */
#define DRAVIK_PRODUCT_ID_V2 0x0201u
#define DRAVIK_PRODUCT_ID_V3 0x0301u /* the third generation has three models */
#define DRAVIK_PRODUCT_ID_V3_MASS 0x0302u
#define DRAVIK_PRODUCT_ID_V3_BRIDGE 0x0303u

#endif
