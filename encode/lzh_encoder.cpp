#include "encode/lzh_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

#include "base/crc16.h"
#include "encode/block_writer.h"
#include "encode/huffman_builder.h"

namespace qorn::encode {

namespace {

// Search effort. Matches are found in a binary tree, which keeps candidates
// in order, so a short walk finds nearly every match a full search would.
// Hash chains (32 links, nice length 48) were the default for -lh6- and
// -lh7- until the tree's 32 nodes and nice length 128 made the -lh7- text set
// 0.93% and the binary set 0.63% smaller for 8-26% more CPU time (16 nodes,
// nice length 64: 0.61% / 0.54%; the nice length is what counts). The
// maximum level walks the tree deeper with longer matches, and parses each
// segment twice more, priced by the codes of the blocks the pass before would
// get. At the default level such a pass costs 25% more CPU time, which its
// speed cannot spare.
struct SearchParameters {
    int depth;        // tree nodes visited per position
    int niceLength;   // a match this long ends the search and is taken as it is
    int blockPasses;  // parses priced by the codes of the blocks the pass before would get
};

SearchParameters parametersFor(EncodeLevel level) {
    if (level == EncodeLevel::Maximum) return {64, 256, 2};
    return {32, 128, 0};
}

// Positions parsed together; matches do not run past the end of a segment.
constexpr uint32_t kSegment = 65536;

struct Match {
    uint16_t length;
    uint16_t distance;  // distance - 1, as the position code sends it
};

// The matches of a segment. Room for a whole search is made before each one,
// so adding needs no check.
struct MatchList {
    std::vector<Match> items;
    uint32_t count = 0;
    void makeRoom(uint32_t n) {
        if (items.size() < count + n) items.resize((count + n) * 2);
    }
    void add(uint32_t length, uint64_t distanceMinusOne) {
        items[count++] = {static_cast<uint16_t>(length), static_cast<uint16_t>(distanceMinusOne)};
    }
};

// An array kept from member to member, grown when a member needs more.
template <typename T>
class Reused {
  public:
    T* take(size_t n) {
        if (size_ < n) {
            data_.reset(new (std::nothrow) T[n]);
            size_ = data_ ? n : 0;
        }
        return data_.get();
    }

  private:
    std::unique_ptr<T[]> data_;
    size_t size_ = 0;
};

// The encoder's working memory, one for each thread, kept between members:
// allocated afresh its large arrays cost a mapping each and page faults as
// they were touched, which a tree of small files paid once a file.
struct Workspace {
    Reused<uint8_t> buffer;
    Reused<uint32_t> head, head3, links;
    Reused<uint32_t> cost, start, distance;
    MatchList matches;
    std::vector<uint32_t> firstMatch;
};

class MatchFinder {
  public:
    // A small input gets small hash tables: they are cleared for every
    // member, and fewer entries stay in the cache.
    MatchFinder(int dictionaryBits, ByteSource& source, uint64_t expectedSize)
        : source_(source),
          window_(1u << dictionaryBits),
          hashBits_(tableBits(dictionaryBits <= 13 ? 15 : 16, expectedSize)),
          hash3Bits_(tableBits(14, expectedSize)),
          bufferSize_(2 * window_ + kSegment + 2 * kMaxMatch) {}

    bool allocate(Workspace& w) {
        buffer_ = w.buffer.take(bufferSize_);
        const size_t heads = size_t{1} << hashBits_, heads3 = size_t{1} << hash3Bits_;
        head_ = w.head.take(heads);
        head3_ = w.head3.take(heads3);
        // The links are written for each position before a later one can
        // reach them, two a position.
        tree_ = w.links.take(2 * size_t{window_});
        if (!buffer_ || !head_ || !head3_ || !tree_) return false;
        std::memset(head_, 0, heads * sizeof *head_);
        std::memset(head3_, 0, heads3 * sizeof *head3_);
        return true;
    }

    // Reads until the buffer is full or the source ends.
    bool fill() {
        while (!ended_ && valid_ < bufferSize_) {
            const int64_t n = source_.read(buffer_ + valid_, bufferSize_ - valid_);
            if (n < 0) return false;
            if (n == 0) {
                ended_ = true;
                break;
            }
            updateCrc(crc_, buffer_ + valid_, static_cast<uint32_t>(n));
            valid_ += static_cast<size_t>(n);
            total_ += static_cast<uint64_t>(n);
        }
        return true;
    }

    // Keeps the lookahead in the buffer: once position p is two windows in,
    // the oldest window is dropped. Candidates never reach back further than
    // one window, so they stay inside.
    bool prepare(uint64_t p) {
        while (p - base_ >= 2 * window_) {
            std::memmove(buffer_, buffer_ + window_, valid_ - window_);
            valid_ -= window_;
            base_ += window_;
            if (!fill()) return false;
        }
        return true;
    }

    // Bytes available from p on.
    size_t available(uint64_t p) const { return static_cast<size_t>(base_ + valid_ - p); }

    bool atEnd(uint64_t p) const { return p >= base_ + valid_; }
    uint8_t byteAt(uint64_t p) const { return buffer_[p - base_]; }

    // Binary tree: enters p and, with kCollect, appends its matches to out, each
    // longer and further than the one before: for every length, the nearest
    // source the walk met. Returns the longest length found (0 if none). No
    // match runs past limit bytes.
    //
    // Positions with the same four-byte hash form a binary tree ordered by
    // the bytes that follow, newest at the root. Walking down from the root
    // to insert p passes the candidates that share the longest prefixes with
    // it, and the tree is rebuilt around p on the way.
    template <bool kCollect>
    uint32_t treeFind(uint64_t p, uint32_t limit, const SearchParameters& sp, MatchList* out) {
        const size_t i = static_cast<size_t>(p - base_);
        if (i + kMinMatch > valid_) return 0;
        const uint8_t* here = buffer_ + i;
        const uint32_t available = static_cast<uint32_t>(std::min<size_t>(kMaxMatch, valid_ - i));
        const uint32_t maxLength = std::min(limit, available);
        // Three-byte matches only ever need the nearest one, kept in a table
        // of its own.
        uint32_t* const slot3 = &head3_[hash3(here)];
        const uint32_t near3 = *slot3;
        *slot3 = static_cast<uint32_t>(p + 1);
        uint32_t best = kMinMatch - 1;
        if (kCollect && near3 != 0 && p - (near3 - 1u) < window_ && maxLength >= kMinMatch) {
            const uint8_t* there = buffer_ + (near3 - 1u - base_);
            if (there[0] == here[0] && there[1] == here[1] && there[2] == here[2]) {
                best = matchLength(here, there, maxLength);
                out->add(best, p - near3);
            }
        }
        if (i + 4 > valid_) return best < kMinMatch ? 0 : best;
        const uint32_t h = hash4(here);
        uint32_t candidate = head_[h];
        head_[h] = static_cast<uint32_t>(p + 1);
        const uint32_t mask = window_ - 1;
        // The tree orders by at most the nice length; a candidate equal that
        // far takes p's place in it.
        const uint32_t treeLimit =
            std::min<uint32_t>(available, static_cast<uint32_t>(sp.niceLength));
        // Slots still to fill: the smaller and the larger subtree of p.
        uint32_t* smaller = &tree_[2 * (p & mask)];
        uint32_t* larger = smaller + 1;
        uint32_t smallerLength = 0, largerLength = 0;
        int depth = sp.depth;
        while (true) {
            const uint64_t c = candidate - 1u;
            // Distances up to one less than the window: some decoders mishandle
            // a match that reaches back exactly one full window.
            if (candidate == 0 || p - c >= window_ || depth-- <= 0) {
                *smaller = *larger = 0;
                break;
            }
            uint32_t* const node = &tree_[2 * (c & mask)];
            const uint8_t* there = buffer_ + (c - base_);
            // Both bounds of the subtree share this many bytes with p.
            uint32_t length = std::min(smallerLength, largerLength);
            if (there[length] == here[length]) {
                length += matchLength(here + length, there + length, treeLimit - length);
                if (kCollect && length > best && maxLength > best) {
                    uint32_t found = std::min(length, maxLength);
                    if (length == treeLimit && found < maxLength)
                        found += matchLength(here + found, there + found, maxLength - found);
                    if (found > best) {
                        best = found;
                        out->add(found, p - c - 1);
                    }
                }
                if (length >= treeLimit) {
                    *smaller = node[0];
                    *larger = node[1];
                    break;
                }
            }
            if (there[length] < here[length]) {
                *smaller = candidate;
                smaller = node + 1;
                candidate = *smaller;
                smallerLength = length;
            } else {
                *larger = candidate;
                larger = node;
                candidate = *larger;
                largerLength = length;
            }
        }
        return best < kMinMatch ? 0 : best;
    }

    uint16_t crc() const { return crc_; }
    uint64_t total() const { return total_; }

  private:
    // As many bits as the size has, within 10 and most.
    static int tableBits(int most, uint64_t size) {
        int bits = 10;
        while (bits < most && (uint64_t{1} << bits) < size) ++bits;
        return bits;
    }
    uint32_t hash3(const uint8_t* b) const {
        const uint32_t v = (uint32_t{b[0]} << 16) | (uint32_t{b[1]} << 8) | b[2];
        return (v * 2654435761u) >> (32 - hash3Bits_);
    }
    uint32_t hash4(const uint8_t* b) const {
        uint32_t v;
        std::memcpy(&v, b, 4);
        return (v * 2654435761u) >> (32 - hashBits_);
    }

    static uint32_t matchLength(const uint8_t* a, const uint8_t* b, uint32_t limit) {
        uint32_t n = 0;
        while (n + 8 <= limit) {
            uint64_t x, y;
            std::memcpy(&x, a + n, 8);
            std::memcpy(&y, b + n, 8);
            if (x != y) return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
            n += 8;
        }
        while (n < limit && a[n] == b[n]) ++n;
        return n;
    }

    ByteSource& source_;
    const uint32_t window_;
    const int hashBits_;
    const int hash3Bits_;
    const size_t bufferSize_;
    // Arrays of the thread's workspace.
    uint8_t* buffer_ = nullptr;
    uint32_t* head_ = nullptr;   // position + 1 of the tree root per hash
    uint32_t* head3_ = nullptr;  // position + 1 of the newest entry per three-byte hash
    uint32_t* tree_ = nullptr;   // position + 1 of the two subtrees, by position
    uint64_t base_ = 0;          // stream position of buffer_[0]
    size_t valid_ = 0;
    uint64_t total_ = 0;
    uint16_t crc_ = 0;
    bool ended_ = false;
};

class SinkDrain {
  public:
    SinkDrain(ByteSink& sink, uint64_t limit) : sink_(sink), limit_(limit) {}
    // False when the sink failed or the limit was passed.
    bool drain(std::vector<uint8_t>& bytes, EncodeResult& result) {
        if (bytes.empty()) return true;
        written_ += bytes.size();
        if (written_ > limit_) {
            result.status = EncodeResult::TooLarge;
            return false;
        }
        if (!sink_.write(bytes.data(), bytes.size())) {
            result.status = EncodeResult::WriteFailed;
            return false;
        }
        bytes.clear();
        return true;
    }
    uint64_t written() const { return written_; }

  private:
    ByteSink& sink_;
    uint64_t limit_;
    uint64_t written_ = 0;
};

// Chooses the cheapest way through a segment: every position either sends a
// literal or one of its matches cut to any length, priced in bits by the codes
// the previous choices would get: those of the segment before, or for the
// first segment of a member those of a quick parse of it.
class SegmentParser {
  public:
    SegmentParser(int dictionaryBits, int blockPasses, Workspace& w)
        : dictionaryBits_(dictionaryBits),
          positionCodes_(dictionaryBits <= 14 ? 14 : (dictionaryBits == 16 ? 17 : 16)),
          blockPasses_(blockPasses),
          cost_(w.cost.take(kSegment + 1 + kLanes)),
          start_(w.start.take(kSegment + 1 + kLanes)),
          distance_(w.distance.take(kSegment + 1 + kLanes)) {}
    bool ready() const { return cost_ && start_ && distance_; }

    void parse(const MatchFinder& finder, uint64_t p, uint32_t n, const MatchList& matches,
               const std::vector<uint32_t>& firstMatch, BlockWriter& out) {
        if (first_) {
            // No prices yet: the first pass is priced by the statistics of
            // a quick parse, nearly as good as a full pass before it.
            quickPath(n, matches, firstMatch);
            pathStatistics(finder, p, n);
            first_ = false;
        }
        shortestPath(finder, p, n, matches, firstMatch);
        pathStatistics(finder, p, n);
        // The prices so far are one set for the whole segment, by entropy:
        // codes with fractional lengths, no header, what the segment would
        // cost were it one block. The block writer cuts where the statistics
        // change and gives each block whole code lengths and a header, in
        // which a symbol new to the block costs its length too. Priced by
        // the codes of the blocks the path would get, stretch by stretch,
        // the next pass fits each part (one such pass: -lh5- / -lh7- 0.2 /
        // 0.28% smaller on text, 0.35 / 0.39% on binaries; one priced by
        // the code lengths of the whole segment gave 0.14 / 0.17 and 0.26 /
        // 0.28%; a third pass under 0.02%).
        for (int pass = 0; pass < blockPasses_; ++pass) {
            collectPath(n);
            planBlocks(finder, p);
            shortestPath(finder, p, n, matches, firstMatch);
            pathStatistics(finder, p, n);
            regions_.resize(1);
        }
        // The path is followed backwards from the end; emit it forwards.
        collectPath(n);
        for (size_t k = path_.size(); k-- > 0;) {
            const uint32_t end = path_[k];
            const uint32_t start = start_[end];
            if (distance_[end] == kLiteral)
                out.literal(finder.byteAt(p + start));
            else
                out.match(end - start, distance_[end] + 1u);
        }
    }

  private:
    static constexpr uint32_t kLiteral = 0xFFFFFFFF;

    // Lengths priced together; the arrays they index have this much room
    // past their end.
    static constexpr uint32_t kLanes = 4;
    // Prices are in sixteenths of a bit.
    static constexpr uint32_t kScale = 16;
    // Above any path's cost, and below 2^31 so the costs compare as signed.
    static constexpr uint32_t kUnreached = 0x7FFFFFFF;

    // Prices that hold from a position of the segment on.
    struct Prices {
        uint32_t from;
        // Room for a last group of lengths to run past the longest.
        uint32_t literal[kLiteralSymbols + kLanes];
        uint32_t position[kMaxPositionCodes];
    };
    struct Counts {
        uint32_t literal[kLiteralSymbols];
        uint32_t position[kMaxPositionCodes];
        void clear() { std::memset(this, 0, sizeof *this); }
        void add(const Counts& o) {
            for (int s = 0; s < kLiteralSymbols; ++s) literal[s] += o.literal[s];
            for (int s = 0; s < kMaxPositionCodes; ++s) position[s] += o.position[s];
        }
    };

    // The path's ends, last first.
    void collectPath(uint32_t n) {
        path_.clear();
        for (uint32_t i = n; i > 0; i = start_[i]) path_.push_back(i);
    }

    // Cuts the path into blocks as the block writer would (steps of its
    // size, each joining the block before while that costs no more), and
    // prices each block's stretch by the code lengths of its counts.
    void planBlocks(const MatchFinder& finder, uint64_t p) {
        regions_.clear();
        Counts block, step, joined;
        block.clear();
        step.clear();
        uint64_t blockBits = 0;
        uint32_t blockFrom = 0, stepFrom = 0, inStep = 0, inBlock = 0;
        const auto closeStep = [&](uint32_t next) {
            const uint64_t stepBits =
                estimateBlockBits(step.literal, step.position, dictionaryBits_);
            bool join = inBlock == 0;
            uint64_t joinedBits = stepBits;
            if (!join && inBlock + inStep <= kMaxBlockTokens) {
                joined = block;
                joined.add(step);
                joinedBits = estimateBlockBits(joined.literal, joined.position, dictionaryBits_);
                join = joinedBits <= blockBits + stepBits;
            }
            if (join) {
                block.add(step);
                inBlock += inStep;
            } else {
                addRegion(blockFrom, block);
                blockFrom = stepFrom;
                block = step;
                joinedBits = stepBits;
                inBlock = inStep;
            }
            blockBits = joinedBits;
            inStep = 0;
            step.clear();
            stepFrom = next;
        };
        for (size_t k = path_.size(); k-- > 0;) {
            const uint32_t end = path_[k];
            const uint32_t start = start_[end];
            if (distance_[end] == kLiteral) {
                ++step.literal[finder.byteAt(p + start)];
            } else {
                ++step.literal[end - start - kMinMatch + 256];
                ++step.position[positionCode(distance_[end])];
            }
            if (++inStep == kCutStepTokens) closeStep(end);
        }
        if (inStep) closeStep(0);
        addRegion(blockFrom, block);
    }

    void addRegion(uint32_t from, const Counts& c) {
        regions_.emplace_back();
        Prices& r = regions_.back();
        r.from = from;
        std::memset(r.literal, 0, sizeof r.literal);
        setPrices(c.literal, kLiteralSymbols, r.literal, false);
        setPrices(c.position, positionCodes_, r.position, true);
        lengthsToPrices(c.literal, kLiteralSymbols, r.literal, false);
        lengthsToPrices(c.position, positionCodes_, r.position, true);
    }

    void shortestPath(const MatchFinder& finder, uint64_t p, uint32_t n, const MatchList& matches,
                      const std::vector<uint32_t>& firstMatch) {
        cost_[0] = 0;
        for (uint32_t i = 1; i <= n; ++i) cost_[i] = kUnreached;
        // Indexed by match length.
        const uint32_t* literalPrice = regions_[0].literal;
        const uint32_t* positionPrice = regions_[0].position;
        const uint32_t* lengthPrice = literalPrice + 256 - kMinMatch;
        size_t region = 0;
#ifdef __SSE2__
        const __m128i kLaneSteps = _mm_setr_epi32(0, 1, 2, 3);
#endif
        for (uint32_t i = 0; i < n; ++i) {
            if (region + 1 < regions_.size() && regions_[region + 1].from == i) {
                ++region;
                literalPrice = regions_[region].literal;
                positionPrice = regions_[region].position;
                lengthPrice = literalPrice + 256 - kMinMatch;
            }
            const uint32_t here = cost_[i];
            const uint32_t lit = here + literalPrice[finder.byteAt(p + i)];
            if (lit < cost_[i + 1]) {
                cost_[i + 1] = lit;
                start_[i + 1] = i;
                distance_[i + 1] = kLiteral;
            }
            uint32_t length = kMinMatch;
            uint32_t* const cost = &cost_[i];
            uint32_t* const start = &start_[i];
            uint32_t* const distance = &distance_[i];
            for (uint32_t m = firstMatch[i]; m < firstMatch[i + 1]; ++m) {
                const Match& match = matches.items[m];
                const uint32_t base = here + positionPrice[positionCode(match.distance)];
#ifdef __SSE2__
                // Four lengths at a time: every price stays below 2^31.
                const __m128i vBase = _mm_set1_epi32(static_cast<int>(base));
                const __m128i vStart = _mm_set1_epi32(static_cast<int>(i));
                const __m128i vDistance = _mm_set1_epi32(static_cast<int>(match.distance));
                // The last group leaves out the lengths past the match.
                const __m128i vEnd = _mm_set1_epi32(static_cast<int>(match.length + 1));
                for (; length <= match.length; length += kLanes) {
                    const __m128i c = _mm_add_epi32(
                        vBase,
                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(lengthPrice + length)));
                    __m128i* const at = reinterpret_cast<__m128i*>(cost + length);
                    const __m128i old = _mm_loadu_si128(at);
                    const __m128i lanes =
                        _mm_add_epi32(_mm_set1_epi32(static_cast<int>(length)), kLaneSteps);
                    const __m128i better =
                        _mm_and_si128(_mm_cmplt_epi32(c, old), _mm_cmplt_epi32(lanes, vEnd));
                    if (_mm_movemask_epi8(better) == 0) continue;
                    _mm_storeu_si128(at, select(better, c, old));
                    __m128i* const s = reinterpret_cast<__m128i*>(start + length);
                    _mm_storeu_si128(s, select(better, vStart, _mm_loadu_si128(s)));
                    __m128i* const d = reinterpret_cast<__m128i*>(distance + length);
                    _mm_storeu_si128(d, select(better, vDistance, _mm_loadu_si128(d)));
                }
                length = match.length + 1;
#endif
                for (; length <= match.length; ++length) {
                    const uint32_t c = base + lengthPrice[length];
                    if (c < cost[length]) {
                        cost[length] = c;
                        start[length] = i;
                        distance[length] = match.distance;
                    }
                }
            }
        }
    }

    // Each position takes its longest match unless the next one has a
    // longer match; a three-byte match from far away is rarely worth its
    // position code, so it counts as none.
    void quickPath(uint32_t n, const MatchList& matches, const std::vector<uint32_t>& firstMatch) {
        const auto longest = [&](uint32_t i) -> const Match* {
            if (firstMatch[i] == firstMatch[i + 1]) return nullptr;
            const Match& m = matches.items[firstMatch[i + 1] - 1];
            return m.length == kMinMatch && m.distance >= 256 ? nullptr : &m;
        };
        for (uint32_t i = 0; i < n;) {
            const Match* here = longest(i);
            const Match* next = i + 1 < n ? longest(i + 1) : nullptr;
            if (here && !(next && next->length > here->length)) {
                start_[i + here->length] = i;
                distance_[i + here->length] = here->distance;
                i += here->length;
            } else {
                start_[i + 1] = i;
                distance_[i + 1] = kLiteral;
                ++i;
            }
        }
    }

#ifdef __SSE2__
    static __m128i select(__m128i mask, __m128i a, __m128i b) {
        return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
    }
#endif

    // Prices for the next pass from the symbols the current path uses.
    void pathStatistics(const MatchFinder& finder, uint64_t p, uint32_t n) {
        std::memset(literalCount_, 0, sizeof literalCount_);
        std::memset(positionCount_, 0, sizeof positionCount_);
        for (uint32_t i = n; i > 0; i = start_[i]) {
            if (distance_[i] == kLiteral) {
                ++literalCount_[finder.byteAt(p + start_[i])];
            } else {
                ++literalCount_[i - start_[i] - kMinMatch + 256];
                ++positionCount_[positionCode(distance_[i])];
            }
        }
        setPrices(literalCount_, kLiteralSymbols, regions_[0].literal, false);
        setPrices(positionCount_, positionCodes_, regions_[0].position, true);
    }

    // Prices from Huffman code lengths. A symbol without a code costs a few
    // bits over the longest one: a new code lengthens others, and its
    // length goes into the header.
    static void lengthsToPrices(const uint32_t* freq, int count, uint32_t* price, bool extraBits) {
        constexpr int kUnusedExtra = 3;
        uint8_t lengths[kLiteralSymbols];
        // With one symbol or none the entropy prices stay.
        if (buildCodeLengths(freq, count, kMaxCodeLength, lengths) < 2) return;
        const int longest = *std::max_element(lengths, lengths + count);
        for (int s = 0; s < count; ++s) {
            uint32_t bits = (lengths[s] ? lengths[s] : longest + kUnusedExtra) * kScale;
            if (extraBits && s > 1) bits += static_cast<uint32_t>(s - 1) * kScale;
            price[s] = bits;
        }
    }

    // Entropy rather than code lengths: finer steps to compare paths by. A
    // symbol not used yet is priced as if seen half a time.
    static void setPrices(const uint32_t* freq, int count, uint32_t* price, bool extraBits) {
        uint64_t total = 0;
        int used = 0;
        for (int s = 0; s < count; ++s) total += freq[s], used += freq[s] != 0;
        const auto bitsFor = [&](double f) {
            if (used < 2) return kScale;
            const double bits = kScale * std::log2(static_cast<double>(total) / f) + 0.5;
            return std::max(static_cast<uint32_t>(bits), kScale);
        };
        const uint32_t unused = bitsFor(0.5);
        for (int s = 0; s < count; ++s) {
            uint32_t bits = freq[s] ? bitsFor(freq[s]) : unused;
            if (extraBits && s > 1) bits += static_cast<uint32_t>(s - 1) * kScale;
            price[s] = bits;
        }
    }

    const int dictionaryBits_;
    const int positionCodes_;
    const int blockPasses_;
    bool first_ = true;
    // Symbol counts of the last path.
    uint32_t literalCount_[kLiteralSymbols];
    uint32_t positionCount_[kMaxPositionCodes];
    // The prices of each stretch of the segment; one for all of it but in a
    // pass priced by blocks.
    std::vector<Prices> regions_ = std::vector<Prices>(1, Prices{});
    // Per position reached: the cheapest cost, where the step there starts,
    // and its distance - 1 (kLiteral for a literal).
    uint32_t* const cost_;
    uint32_t* const start_;
    uint32_t* const distance_;
    std::vector<uint32_t> path_;
};

}  // namespace

void prepareEncoder() {
    // Filled once, before any thread reads the table.
    static const bool crcReady = (makeCrcTable(), true);
    (void)crcReady;
}

EncodeResult encodeStream(Method method, ByteSource& source, ByteSink& sink, uint64_t packedLimit,
                          uint64_t expectedSize, EncodeLevel level) {
    prepareEncoder();
    EncodeResult result;
    const int dictionaryBits = method == Method::Lh5 ? 13 : (method == Method::Lh6 ? 15 : 16);
    const SearchParameters sp = parametersFor(level);
    static thread_local Workspace workspace;
    MatchFinder finder(dictionaryBits, source, expectedSize);
    SegmentParser parser(dictionaryBits, sp.blockPasses, workspace);
    std::unique_ptr<BlockWriter> blocks(new (std::nothrow) BlockWriter(dictionaryBits));
    if (!blocks || !finder.allocate(workspace) || !parser.ready()) {
        result.status = EncodeResult::OutOfMemory;
        return result;
    }
    SinkDrain drain(sink, packedLimit);
    if (!finder.fill()) {
        result.status = EncodeResult::ReadFailed;
        return result;
    }

    MatchList& matches = workspace.matches;
    std::vector<uint32_t>& firstMatch = workspace.firstMatch;
    uint64_t p = 0;
    while (true) {
        if (!finder.prepare(p)) {
            result.status = EncodeResult::ReadFailed;
            return result;
        }
        const uint32_t n = static_cast<uint32_t>(std::min<size_t>(kSegment, finder.available(p)));
        if (n == 0) break;
        if (firstMatch.size() < n + 1) firstMatch.resize(n + 1);
        // All matches of the segment first; a long match is taken whole and
        // the positions it covers are only entered in the tree.
        matches.count = 0;
        for (uint32_t i = 0; i < n;) {
            firstMatch[i] = matches.count;
            matches.makeRoom(static_cast<uint32_t>(sp.depth) + 2);
            const uint32_t longest = finder.treeFind<true>(p + i, n - i, sp, &matches);
            if (longest >= static_cast<uint32_t>(sp.niceLength)) {
                for (uint32_t k = 1; k < longest; ++k) {
                    firstMatch[i + k] = matches.count;
                    finder.treeFind<false>(p + i + k, n - i - k, sp, nullptr);
                }
                i += longest;
            } else {
                ++i;
            }
        }
        firstMatch[n] = matches.count;
        parser.parse(finder, p, n, matches, firstMatch, *blocks);
        p += n;
        if (blocks->output().size() >= 65536 && !drain.drain(blocks->output(), result))
            return result;
    }
    blocks->finish();
    if (!drain.drain(blocks->output(), result)) return result;
    result.originalSize = finder.total();
    result.packedSize = drain.written();
    result.crc = finder.crc();
    return result;
}

namespace {

class MemorySource : public ByteSource {
  public:
    MemorySource(const uint8_t* data, size_t size) : data_(data), left_(size) {}
    int64_t read(uint8_t* buffer, size_t count) override {
        const size_t n = std::min(count, left_);
        if (n) std::memcpy(buffer, data_, n);
        data_ += n;
        left_ -= n;
        return static_cast<int64_t>(n);
    }

  private:
    const uint8_t* data_;
    size_t left_;
};

}  // namespace

bool encodeBuffer(Method method, const uint8_t* data, size_t size, std::vector<uint8_t>& out,
                  EncodeLevel level) {
    out.clear();
    MemorySource source(data, size);
    VectorSink sink(out);
    return encodeStream(method, source, sink, UINT64_MAX, size, level).status == EncodeResult::Done;
}

}  // namespace qorn::encode
