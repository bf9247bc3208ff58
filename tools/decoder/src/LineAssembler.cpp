#include "dravik/itm/LineAssembler.h"

namespace dravik::itm {

LineAssembler::LineAssembler(unsigned port, size_t maxLineLength)
    : port_(port), maxLineLength_(maxLineLength == 0 ? 1 : maxLineLength) {
    line_.reserve(maxLineLength_ < 256 ? maxLineLength_ : 256);
}

}  // namespace dravik::itm
