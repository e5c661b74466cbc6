// The downloader against a real FTP server on loopback: the messages its owner
// receives, in order, the commands the server receives and the files it leaves
// in the download folder.
#include "update/ftp_downloader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <sstream>
#include <vector>

#include "platform/window_system.hpp"
#include "tests/support/golden.hpp"
#include "tests/support/host_recorder.hpp"
#include "tests/support/test_environment.hpp"
#include "tests/update/ftp_server.hpp"

namespace stridelog::update {
namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;
using test::FtpServer;
using Clock = std::chrono::steady_clock;

// The owner window: records every message with its text, or its number
// (progress, range lower), and frees the texts it is handed.
class Owner {
  public:
    Owner()
        : hwnd_(platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
              const bool text = m == WM_FTP_STATUS || m == WM_FTP_RATE || m == WM_FTP_TIME_LEFT;
              log_.emplace_back(m, text ? *kFtpStatusMessage.take(w) : std::to_string(w));
              return 0;
          })) {}
    ~Owner() { platform::destroy_window(hwnd_); }
    HWND hwnd() const { return hwnd_; }

    // Runs to the done or failed message, then lets anything still in flight arrive.
    bool run_until_end(int ends = 1, std::uint64_t ms = 30'000) {
        const bool ended =
            test::run_until([&] { return count(WM_FTP_DONE) + count(WM_FTP_FAILED) >= ends; }, ms);
        test::run_for(300);
        return ended;
    }
    int count(UINT message) const { return static_cast<int>(texts(message).size()); }
    Lines texts(UINT message) const {
        Lines out;
        for (const auto& [m, text] : log_)
            if (m == message) out.push_back(text);
        return out;
    }
    // Statuses, the range and the ends, a line each; progress, rate and time left left out.
    std::string outline() const {
        std::string out;
        for (const auto& [m, text] : log_) {
            if (m == WM_FTP_STATUS) out += text + "\n";
            if (m == WM_FTP_RANGE) out += "<range>\n";
            if (m == WM_FTP_DONE) out += "<done>\n";
            if (m == WM_FTP_FAILED) out += "<failed>\n";
        }
        return out;
    }

  private:
    std::vector<std::pair<UINT, std::string>> log_;
    HWND hwnd_;
};

std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 256) & 0xFF);
    return bytes;
}

std::optional<std::string> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string digest(const std::string& bytes) {
    return test::bytes_text(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), 16);
}

class FtpDownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override { use(server_); }
    // Points the settings at `server`.
    void use(const FtpServer& server) {
        ASSERT_TRUE(server.running()) << "pyftpdlib did not start (python3-pyftpdlib installed?)";
        settings_ = {server.address(), "user", "pass", "orbits", "", "Host"};
    }
    fs::path local(const std::string& name) const {
        return env_.documents_dir() / "Stride Log" / name;
    }

    test::TestEnvironment env_;
    FtpServer server_{env_.root()};
    FtpSettings settings_;
    Owner owner_;
};

// One row, one download (of a list, with more than one name) by a fresh
// downloader. The golden file holds what each showed: the messages, the
// progress values, the commands the server received (the data connection's
// mode, the folders, the files) and what the download folder was left with.
TEST_F(FtpDownloaderTest, DownloadsAndFailures) {
    std::istringstream remote(
        "whole.bin 5000 empty.bin 0 three.bin 300 two.bin 256 longer.bin 400 "
        "short.bin 200 datetime.txt 20 MTK7d.EPO 53760 later.EPO 53760");
    std::string name;
    for (std::size_t size = 0; remote >> name >> size;)
        server_.put("orbits/" + name, pattern(size, size % 7));
    using Arrange = std::function<void(FtpSettings&)>;
    auto full_disk = [this](const char* name) -> Arrange {
        return [this, name](FtpSettings&) {
            fs::create_directories(local(""));
            fs::create_symlink("/dev/full", local(name));
        };
    };
    const Arrange relative = [this](FtpSettings&) {
        env_.set_env("XDG_DOCUMENTS_DIR", "relative-documents");
    };
    // Sends 1000 bytes of every file, then nothing, the connection left open.
    FtpServer stalled(env_.root() / "stalled", 0, 1000);
    stalled.put("orbits/big.EPO", pattern(kListStreamSize, 2));
    const Arrange stall = [&](FtpSettings& s) { s.server = stalled.address(); };
    const struct {
        const char* legend;
        Lines names;         // more than one: a list
        std::uint32_t size;  // 0: fetched whole
        Arrange arrange = nullptr;
        bool passive = true;
    } cases[] = {
        {"whole", {"whole.bin"}, 0},
        {"empty", {"empty.bin"}, 0},
        {"active, whole", {"whole.bin"}, 0, nullptr, false},
        {"active, streamed", {"three.bin"}, 300, nullptr, false},
        {"three chunks", {"three.bin"}, 300},
        {"two chunks", {"two.bin"}, 256},
        {"longer than asked: the size asked", {"longer.bin"}, 256},
        // A leading '/' starts from the server's root, whatever the login folder.
        {"folder from the root", {"whole.bin"}, 0, [](auto& s) { s.folder = "/orbits"; }},
        {"list", {"datetime.txt", "MTK7d.EPO"}, 0, nullptr, false},
        {"list stops at the first failure", {"datetime.txt", "missing.EPO", "later.EPO"}, 0},
        {"wrong password", {"short.bin"}, 0, [](auto& s) { s.password = "wrong"; }},
        {"nobody listening", {"short.bin"}, 300, [](auto& s) { s.server = "127.0.0.1:1"; }},
        {"bad port", {"short.bin"}, 0, [](auto& s) { s.server = "127.0.0.1:99999"; }},
        {"missing folder", {"short.bin"}, 0, [](auto& s) { s.folder = "nowhere"; }},
        {"missing file, whole", {"absent.bin"}, 0},
        {"missing file, streamed", {"absent.bin"}, 300},
        {"shorter than expected: only what arrived", {"short.bin"}, 300},
        {"parent folder", {"../escape.bin"}, 0},
        {"separator", {"orbits/short.bin"}, 300},
        {"absolute", {"/tmp/escape.bin"}, 0},
        {"relative documents folder", {"datetime.txt"}, 0, relative},
        // The small file fails at the last flush, the large one part way.
        {"full disk, small file", {"three.bin"}, 300, full_disk("three.bin")},
        {"full disk, large file", {"MTK7d.EPO"}, kListStreamSize, full_disk("MTK7d.EPO")},
        // Silent for the stall limit (3 s here, so that a busy machine's slow command
        // replies before the first byte are not a stall): a failure, with what arrived.
        {"stalled, streamed", {"big.EPO"}, kListStreamSize, stall},
        {"stalled, whole", {"big.EPO"}, 0, stall},
    };
    const fs::path cwd = fs::current_path();
    std::string text;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.legend);
        env_.set_env("XDG_DOCUMENTS_DIR", env_.documents_dir().string());
        fs::remove_all(local(""));
        FtpSettings settings = settings_;
        if (c.arrange) c.arrange(settings);
        const std::size_t log_before = server_.log().size();
        Owner owner;
        CFtpDownloader downloader(owner.hwnd());
        const bool stalls = std::string_view(c.legend).starts_with("stalled");
        if (stalls) downloader.set_stall_limit_ms(3000);
        const auto start = Clock::now();
        if (c.names.size() == 1)
            downloader.DownloadFile(settings, c.names[0], c.size != 0, c.size, c.passive);
        else
            EXPECT_TRUE(downloader.DownloadFiles(settings, &c.names, 0, c.passive));
        EXPECT_TRUE(owner.run_until_end());
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
        EXPECT_TRUE(!stalls || Clock::now() - start >= std::chrono::seconds(3));
        text += std::string("== ") + c.legend + "\n" + owner.outline() + "progress:";
        for (const auto& p : owner.texts(WM_FTP_PROGRESS)) text += " " + p;
        text += downloader.finished() ? "\nfinished\nserver:" : "\nnot finished\nserver:";
        const std::string log = server_.log().substr(log_before);
        for (auto at = log.find("<- "); at != std::string::npos; at = log.find("<- ", at + 1)) {
            const std::string command = log.substr(at + 3, log.find('\n', at) - at - 3);
            const std::string word = command.substr(0, command.find(' '));
            if (word == "EPSV" || word == "PASV") text += " | passive";
            if (word == "EPRT" || word == "PORT") text += " | active";
            if (word == "CWD" || word == "RETR") text += " | " + command;
        }
        text += "\n";
        if (stalls && c.size == 0) fs::remove_all(local(""));  // part of it may stay, or not
        std::vector<std::string> left;
        for (const auto& entry : fs::recursive_directory_iterator(env_.documents_dir())) {
            std::string line = entry.path().lexically_relative(env_.documents_dir()).string();
            if (entry.is_symlink())
                line += " -> " + fs::read_symlink(entry.path()).string();
            else if (entry.is_regular_file())
                line += ": " + digest(*read_file(entry.path()));
            left.push_back(line);
        }
        std::sort(left.begin(), left.end());
        for (const auto& line : left) text += "left " + line + "\n";
    }
    for (const auto& [address, shown] :
         {std::pair{settings_.server, "<server>"}, {stalled.address(), "<stalled>"}})
        for (auto at = text.find(address); at != std::string::npos; at = text.find(address, at))
            text.replace(at, address.size(), shown);
    test::expect_golden("update/ftp_downloads", text);
    EXPECT_FALSE(fs::exists("/tmp/escape.bin"));
    EXPECT_FALSE(fs::exists("relative-documents")) << "a relative folder is not written to";
    EXPECT_EQ(fs::current_path(), cwd);
    CFtpDownloader idle(owner_.hwnd());
    EXPECT_FALSE(idle.DownloadFiles(settings_, nullptr, 0, true));
}

// The second download uses the open connection, not the settings it is given;
// a file that arrives within a second shows its rate on every chunk after the
// first millisecond, the last one the whole file's.
TEST_F(FtpDownloaderTest, ASecondDownloadReusesTheConnectionAndShowsItsRate) {
    server_.put("orbits/one.bin", pattern(700, 1));
    server_.put("orbits/quick.EPO", pattern(kListStreamSize, 7));
    CFtpDownloader downloader(owner_.hwnd());
    downloader.DownloadFile(settings_, "one.bin", false, 0, true);
    ASSERT_TRUE(owner_.run_until_end());
    FtpSettings changed = settings_;
    changed.password = "wrong", changed.folder = "nowhere";
    const auto start = Clock::now();
    downloader.DownloadFile(changed, "quick.EPO", true, kListStreamSize, true);
    ASSERT_TRUE(owner_.run_until_end(2));
    const std::chrono::duration<double> took = Clock::now() - start;  // an upper bound
    EXPECT_EQ(owner_.count(WM_FTP_FAILED), 0);
    EXPECT_EQ(read_file(local("quick.EPO")), pattern(kListStreamSize, 7));
    const std::string log = server_.log();
    EXPECT_EQ(log.find("<- USER "), log.rfind("<- USER ")) << "one login: " << log;
    const auto rates = owner_.texts(WM_FTP_RATE), lefts = owner_.texts(WM_FTP_TIME_LEFT);
    ASSERT_FALSE(rates.empty()) << "done in " << took.count() << " s";
    EXPECT_EQ(rates.size(), lefts.size());
    EXPECT_LE(rates.size(), 420u);
    for (const auto& rate : rates)
        EXPECT_TRUE(std::regex_match(rate, std::regex(R"(\d+\.\d\d)"))) << rate;
    EXPECT_GE(std::stod(rates.back()), kListStreamSize / 1000.0 / took.count() - 0.01);
    EXPECT_EQ(lefts.back(), "00:00");
}

// Each input and its text are one line of the golden file.
TEST(FtpDownloaderText, ServerAddressTimeLeftAndRate) {
    std::string out;
    for (const char* text : {"ftp.example.org", "127.0.0.1:2121", "[::1]:2121", "::1",
                             "host:", "host:0", "host:65536", "host:21x"}) {
        const auto parsed = parse_server(text);
        out += std::string(text) + " -> " +
               (parsed ? parsed->host + " port " + std::to_string(parsed->port) : "none") + "\n";
    }
    for (std::uint32_t seconds : {0, 59, 61, 3599, 3600, 3725})
        out += std::to_string(seconds) + " s left -> " + format_time_left(seconds) + "\n";
    // Bytes done of the estimate, in milliseconds: the rate and the time left.
    const std::array<std::uint64_t, 3> rates[] = {
        {128, kListStreamSize, 0},   {0, kListStreamSize, 500}, {128, kListStreamSize, 1},
        {999, kListStreamSize, 999}, {3000, 12000, 1500},       {53760, kListStreamSize, 250},
        {10000, 5'000'000, 2000},    {1000, 10'000'000, 1000}};
    for (const auto& [done, estimate, ms] : rates) {
        const auto t = transfer_rate_texts(static_cast<std::uint32_t>(done),
                                           static_cast<std::uint32_t>(estimate), ms);
        out += std::to_string(done) + " of " + std::to_string(estimate) + " in " +
               std::to_string(ms) + " ms -> " + (t ? t->rate + ", " + t->time_left : "none") + "\n";
    }
    test::expect_golden("update/ftp_texts", out);
}

// Slow enough (8 kB/s) for a stop mid-file and for the rate and time-left texts.
class ThrottledFtpDownloaderTest : public FtpDownloaderTest {
  protected:
    void SetUp() override {
        use(slow_);
        slow_.put("orbits/big.EPO", bytes_);
        downloader_.DownloadFile(settings_, "big.EPO", true, kListStreamSize, true);
    }
    // What the download folder holds: a part of the file, never a padded chunk.
    std::size_t written() const {
        const auto written = read_file(local("big.EPO"));
        EXPECT_TRUE(written && written->size() < bytes_.size());
        EXPECT_EQ(written.value_or(""), bytes_.substr(0, written.value_or("").size()));
        return written.value_or("").size();
    }
    FtpServer slow_{env_.root() / "slow", 8192};
    const std::string bytes_ = pattern(kListStreamSize, 4);
    CFtpDownloader downloader_{owner_.hwnd()};
};

TEST_F(ThrottledFtpDownloaderTest, StopDuringAStreamedTransferEndsSilently) {
    // A chunk past the first one and a half seconds, so the rate is that of
    // the throttled flow rather than of the first burst.
    const auto started = Clock::now();
    std::size_t rates_before = 0;
    ASSERT_TRUE(test::run_until(
        [&] {
            if (Clock::now() - started < std::chrono::milliseconds(1500)) {
                rates_before = owner_.texts(WM_FTP_RATE).size();
                return false;
            }
            return owner_.texts(WM_FTP_RATE).size() > rates_before;
        },
        20'000));
    const auto before = Clock::now();
    downloader_.StopDownload();
    EXPECT_LT(Clock::now() - before, std::chrono::seconds(5));
    EXPECT_TRUE(downloader_.finished());
    EXPECT_FALSE(downloader_.running());
    test::run_for(300);
    EXPECT_EQ(owner_.count(WM_FTP_DONE) + owner_.count(WM_FTP_FAILED), 0);
    const std::size_t size = written();
    EXPECT_GT(size, 0u);
    EXPECT_EQ(size % kChunkBytes, 0u);
    EXPECT_EQ(owner_.texts(WM_FTP_PROGRESS).back(), std::to_string(size * 100 / kListStreamSize));
    // About 8 kB/s, so some seconds left of 53760 bytes.
    const double rate = std::stod(owner_.texts(WM_FTP_RATE).back());
    EXPECT_GT(rate, 2.0);
    EXPECT_LT(rate, 40.0);
    EXPECT_GE(owner_.texts(WM_FTP_TIME_LEFT).back(), "00:01");
}

TEST_F(ThrottledFtpDownloaderTest, AServerThatDiesMidFileIsAFailedDownloadOfWhatArrived) {
    ASSERT_TRUE(test::run_until(
        [&] {
            const Lines p = owner_.texts(WM_FTP_PROGRESS);
            return !p.empty() && std::stoi(p.back()) >= 10;
        },
        20'000));
    slow_.kill_now();
    ASSERT_TRUE(owner_.run_until_end());
    EXPECT_EQ(owner_.count(WM_FTP_FAILED), 1);
    EXPECT_EQ(owner_.count(WM_FTP_DONE), 0);
    written();
}

}  // namespace
}  // namespace stridelog::update
