// Bit output, most significant bit first, the order the block decoder reads.
#pragma once

#include <cstdint>
#include <vector>

namespace qorn::encode {

class BitWriter {
  public:
    // A counting writer only adds up the bits; the block writer prices
    // candidate blocks with it.
    explicit BitWriter(bool countOnly = false) : countOnly_(countOnly) {}

    // bits <= 24
    void put(uint32_t value, int bits) {
        counted_ += static_cast<uint64_t>(bits);
        if (countOnly_) return;
        acc_ = (acc_ << bits) | (value & ((1u << bits) - 1));
        pending_ += bits;
        while (pending_ >= 8) {
            pending_ -= 8;
            bytes_.push_back(static_cast<uint8_t>(acc_ >> pending_));
        }
    }
    // Pads the last byte with 0 bits, which the decoder reads past the end anyway.
    void padToByte() {
        if (pending_ > 0) put(0, 8 - pending_);
    }
    uint64_t bitCount() const { return counted_; }
    std::vector<uint8_t>& bytes() { return bytes_; }

  private:
    std::vector<uint8_t> bytes_;
    uint64_t acc_ = 0;
    uint64_t counted_ = 0;
    int pending_ = 0;
    bool countOnly_;
};

}  // namespace qorn::encode
