// The fixture of the A-GPS and firmware update tests: a simulated watch on the
// virtual clock (test::SimulatedWatchTest) and a real FTP server on loopback,
// with what both read back from the frames the watch received.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "sim/watch_setup_content.hpp"
#include "stridelog/stridelog.h"
#include "tests/support/golden.hpp"
#include "tests/support/simulated_watch_fixture.hpp"
#include "tests/ui/recording_presenter.hpp"
#include "tests/update/ftp_server.hpp"

namespace stridelog::test {

using Bytes = std::vector<std::uint8_t>;
using Codes = std::vector<UINT>;

// A directory sector of varied bytes (byte i is i * step + first), with a
// settings checksum that holds.
inline Bytes directory_sector(unsigned step, unsigned first, const std::string& version = {}) {
    Bytes d(4096);
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = static_cast<std::uint8_t>(i * step + first);
    if (!version.empty()) {
        std::fill(d.begin() + 96, d.begin() + 112, 0);
        std::copy(version.begin(), version.end(), d.begin() + 96);
    }
    const auto sum = sim::settings_checksum(d.data());
    std::copy(sum.begin(), sum.end(), d.begin());
    return d;
}

class UpdateTaskTest : public SimulatedWatchTest {
  protected:
    void SetUp() override {
        SimulatedWatchTest::SetUp();
        ASSERT_TRUE(server_.running()) << "pyftpdlib did not start";
    }
    std::u16string server_address() const {
        const std::string a = server_.address();
        return {a.begin(), a.end()};
    }
    // The notifications and the frames the watch received as golden text; the
    // clock frame's time is the real local one, so left out.
    std::string transcript() const {
        std::vector<Bytes> frames = watch_.received();
        for (Bytes& f : frames)
            if (!f.empty() && f[0] == 0x39) f.resize(1);
        return test::transcript(host_) + test::frames_transcript(frames);
    }
    // Runs `run` and returns the status log it left (which starts afresh at the
    // connection), the server's address masked.
    template <class Run>
    std::string logged(Run run) {
        std::string log;
        EXPECT_TRUE(test::run_recording_status_log([&] { return run(), true; }, log));
        std::erase(log, '\r');
        const std::string address = server_.address();
        for (auto at = log.find(address); at != std::string::npos; at = log.find(address))
            log.replace(at, address.size(), "<server>");
        return "status log:\n" + log;
    }
    FtpServer server_{env_.root() / "ftp"};
};

}  // namespace stridelog::test
