// -lh3-: static trees. Not built yet.
#include "decode/decoders.h"

namespace qorn {

void startLh3(DecodeSession& s) {
    s.fail();
}
uint16_t decodeStaticCode(DecodeSession& s) {
    return s.fail(), 0;
}

}  // namespace qorn
