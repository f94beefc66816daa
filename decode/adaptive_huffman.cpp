// -lh1- and -lh2-: adaptive Huffman. Not built yet: members of these methods
// are reported as undecodable.
#include "decode/decoders.h"

namespace qorn {

void startLh1(DecodeSession& s) {
    s.fail();
}
void startLh2(DecodeSession& s) {
    s.fail();
}
uint16_t decodeAdaptiveCode(DecodeSession& s) {
    return s.fail(), 0;
}
uint16_t decodeAdaptivePosition(DecodeSession& s) {
    return s.fail(), 0;
}
uint16_t decodeStaticPosition(DecodeSession& s) {
    return s.fail(), 0;
}

}  // namespace qorn
