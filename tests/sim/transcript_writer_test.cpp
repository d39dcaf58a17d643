// The transcript as text: one line per phase with its words and positions.
#include "sim/transcript_writer.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

using namespace fd::sim;

TEST(TranscriptWriter, OneLinePerPhase) {
    Options options;
    options.faults.simultaneousEvery = 2;
    Bus bus(options);
    bus.WriteRegister(Reg::Command, 0xC8);
    bus.ReadRegister(Reg::Status, 0x58);
    UdmaBurst burst;
    burst.terminator = Terminator::Host;
    bus.UdmaIn(std::vector<uint16_t>{0x1234, 0xABCD}, burst);
    bus.AddGlitch(kIord, 9, 0);
    bus.Finish();
    const auto& phases = bus.transcript().phases;
    std::ostringstream expected;
    expected << phases[0].start << '-' << phases[0].end << " register-write COMMAND words=1: 00c8@"
             << phases[0].words[0].position << '\n'
             << phases[1].start << '-' << phases[1].end << " register-read STATUS words=1: 0058@"
             << phases[1].words[0].position << '\n';
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04x", UdmaCrc(std::vector<uint16_t>{0x1234, 0xABCD}));
    expected << phases[2].start << '-' << phases[2].end << " udma-in words=2 crc=" << crc
             << " ended-by=host: 1234@" << phases[2].words[0].position << " abcd@"
             << phases[2].words[1].position << "*\n"
             << "9 glitch IORD width=0\n";
    std::ostringstream out;
    WriteTranscript(out, bus.transcript());
    EXPECT_EQ(out.str(), expected.str());
}

TEST(TranscriptWriter, RegisterNamesFollowTheDirection) {
    EXPECT_EQ(RegisterName(Reg::Features, true), "FEATURES");
    EXPECT_EQ(RegisterName(Reg::Error, false), "ERROR");
    EXPECT_EQ(RegisterName(Reg::DeviceControl, true), "DEVICE-CONTROL");
    EXPECT_EQ(RegisterName(Reg::AltStatus, false), "ALT-STATUS");
}

}  // namespace
