#include "RtuFrame.h"
#include "Crc16.h"

#include <gtest/gtest.h>

#include <vector>

// How the library judges the bytes that came back for a request.
namespace {
using namespace modbus485;

std::vector<uint8_t> withCrc(std::vector<uint8_t> frame, uint8_t spoil = 0) {
    const uint16_t crc = crc16(frame.data(), frame.size());
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    frame.push_back(static_cast<uint8_t>((crc >> 8) ^ spoil));
    return frame;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
} // namespace

TEST(RtuFrame, AnswersAreJudgedCutShortThenMismatchedThenCrcThenStation) {
    const RtuRequest read = rtuRequest(1, 3, 0x0100, 2); // two holding registers from 256
    const RtuRequest write = rtuRequest(1, 6, 9, 0x1234);
    ASSERT_EQ(read, (RtuRequest{0x01, 0x03, 0x01, 0x00, 0x00, 0x02, 0xC5, 0xF7}));
    const auto good = withCrc({1, 3, 4, 0, 7, 0xFF, 0xFE});
    const auto longer = withCrc({1, 3, 6, 0, 7, 0xFF, 0xFE, 0, 0});
    const struct {
        const char *name;
        RtuRequest request;
        std::vector<uint8_t> bytes;
        RtuAnswer expected;
        std::size_t frameSize;
        bool final = false; // the deadline has passed: nothing more will come
    } cases[] = {
        {"good", read, good, RtuAnswer::Good, 9},
        {"good, more behind it", read, good + std::vector<uint8_t>{1}, RtuAnswer::Good, 9},
        {"not all there yet", read, {good.begin(), good.end() - 1}, RtuAnswer::Incomplete, 9},
        {"not all there by the deadline", read, {good.begin(), good.end() - 4}, RtuAnswer::CutShort, 5, true},
        {"nothing by the deadline", read, {}, RtuAnswer::Incomplete, 0, true},
        {"shorter, and checks", read, withCrc({1, 3, 2, 0, 7}), RtuAnswer::Mismatched, 7},
        {"longer, not all there yet", read, {longer.begin(), longer.end() - 2}, RtuAnswer::Incomplete, 11},
        {"longer, and checks", read, longer, RtuAnswer::Mismatched, 11},
        {"count spoilt upwards, by the deadline", read, withCrc({1, 3, 0x14, 0, 7, 0xFF, 0xFE}, 1),
         RtuAnswer::Garbled, 9, true},
        {"exception", read, withCrc({1, 0x83, 2}), RtuAnswer::Exception, 5},
        {"exception-like start of garbage", read, withCrc({1, 0x83, 2}, 0x40), RtuAnswer::Incomplete, 9},
        {"exception from another station", read, withCrc({2, 0x83, 2}), RtuAnswer::WrongStation, 5},
        {"another station", read, withCrc({2, 3, 4, 0, 7, 0xFF, 0xFE}), RtuAnswer::WrongStation, 9},
        {"another station, bad CRC", read, withCrc({2, 3, 4, 0, 7, 0xFF, 0xFE}, 1), RtuAnswer::Garbled, 9},
        {"bad CRC", read, withCrc({1, 3, 4, 0, 7, 0xFF, 0xFE}, 0x80), RtuAnswer::Garbled, 9},
        {"another function", read, withCrc({1, 4, 4, 0, 7, 0xFF, 0xFE}), RtuAnswer::Mismatched, 9},
        {"another function's exception", read, withCrc({1, 0x84, 2}), RtuAnswer::Mismatched, 5},
        {"wrong byte count", read, withCrc({1, 3, 2, 0, 7, 0xFF, 0xFE}), RtuAnswer::Mismatched, 9},
        {"write echoed", write, withCrc({1, 6, 0, 9, 0x12, 0x34}), RtuAnswer::Good, 8},
        {"write echoed wrong", write, withCrc({1, 6, 0, 9, 0x12, 0x35}), RtuAnswer::Mismatched, 8},
        {"bits, not all there", rtuRequest(1, 2, 0, 16), {1, 2, 2, 3, 2}, RtuAnswer::Incomplete, 7},
        {"bits, all there", rtuRequest(1, 2, 0, 16), withCrc({1, 2, 2, 3, 2}), RtuAnswer::Good, 7},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        std::size_t frameSize = 0;
        EXPECT_EQ(checkRtuAnswer(c.request, c.bytes.data(), c.bytes.size(), frameSize, c.final), c.expected);
        EXPECT_EQ(frameSize, c.frameSize);
    }
}
