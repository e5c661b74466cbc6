// The downloader against a real FTP server on loopback: the messages its owner
// receives, in order, and the files it leaves in the download folder.
#include "update/ftp_downloader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/window_system.hpp"
#include "tests/support/test_environment.hpp"
#include "tests/update/ftp_server.hpp"

namespace stridelog::update {
namespace {

namespace fs = std::filesystem;
using test::FtpServer;
using test::TestEnvironment;

struct Received {
    UINT message;
    WPARAM value;      // progress, range lower
    std::string text;  // status, rate, time left
};

// The owner window: records every message, frees the texts it is handed.
class Owner {
  public:
    Owner()
        : hwnd_(platform::create_window([this](HWND, UINT m, WPARAM w, LPARAM) -> LRESULT {
              Received r{m, w, {}};
              if (m == update::WM_FTP_STATUS || m == update::WM_FTP_RATE || m == update::WM_FTP_TIME_LEFT) {
                  r.text = *update::kFtpStatusMessage.take(w);
                  r.value = 0;
              }
              log_.push_back(r);
              return 0;
          })) {}
    ~Owner() { platform::destroy_window(hwnd_); }
    HWND hwnd() const { return hwnd_; }

    // Dispatches until pred holds or the bound passes.
    bool run_until(const std::function<bool()>& pred, int seconds = 30) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (!pred()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            platform::Message msg;
            if (platform::peek_message(msg))
                platform::dispatch_message(msg);
            else
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        return true;
    }
    bool run_until_end(int seconds = 30) {
        return run_until([this] { return count(update::WM_FTP_DONE) + count(update::WM_FTP_FAILED) > 0; }, seconds);
    }
    // Lets anything still in flight arrive.
    void settle() {
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
        run_until([until] { return std::chrono::steady_clock::now() > until; });
    }

    int count(UINT message) const {
        int n = 0;
        for (const auto& r : log_) n += r.message == message;
        return n;
    }
    std::vector<std::string> texts(UINT message) const {
        std::vector<std::string> out;
        for (const auto& r : log_)
            if (r.message == message) out.push_back(r.text);
        return out;
    }
    std::vector<WPARAM> progress() const {
        std::vector<WPARAM> out;
        for (const auto& r : log_)
            if (r.message == update::WM_FTP_PROGRESS) out.push_back(r.value);
        return out;
    }
    // Statuses, the range and the ends in order; progress, rate and time left
    // left out.
    std::vector<std::string> outline() const {
        std::vector<std::string> out;
        for (const auto& r : log_) {
            if (r.message == update::WM_FTP_STATUS) out.push_back(r.text);
            if (r.message == update::WM_FTP_RANGE) out.push_back("<range>");
            if (r.message == update::WM_FTP_DONE) out.push_back("<done>");
            if (r.message == update::WM_FTP_FAILED) out.push_back("<failed>");
        }
        return out;
    }
    const std::vector<Received>& log() const { return log_; }

  private:
    std::vector<Received> log_;
    HWND hwnd_;
};

std::string pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 131 + seed * 7 + i / 256) & 0xFF);
    return bytes;
}

std::optional<std::string> ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// '#' a digit, other characters themselves; a leading "#." takes any number
// of digits before the point.
bool matches(std::string_view text, std::string_view shape) {
    if (shape.starts_with("#.")) {
        const auto point = text.find('.');
        if (point == 0 || point == std::string_view::npos) return false;
        for (char c : text.substr(0, point))
            if (c < '0' || c > '9') return false;
        text.remove_prefix(point);
        shape.remove_prefix(1);
    }
    if (text.size() != shape.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (shape[i] == '#' ? (text[i] < '0' || text[i] > '9') : text[i] != shape[i]) return false;
    }
    return true;
}

class FtpDownloaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(server_.running()) << "pyftpdlib did not start (python3-pyftpdlib installed?)";
        settings_.server = server_.address();
        settings_.user = "user";
        settings_.password = "pass";
        settings_.folder = "orbits";
        settings_.display_name = "Host";
    }
    fs::path local(const std::string& name) const {
        return env_.documents_dir() / "Stride Log" / name;
    }
    std::string connecting() const { return "Connnect to Host(" + server_.address() + ")"; }

    TestEnvironment env_;
    FtpServer server_{env_.root()};
    FtpSettings settings_;
    Owner owner_;
};

struct FetchCase {
    const char* name;
    std::size_t remote_size;
    bool streamed;
    std::uint32_t expected_size;
    std::vector<WPARAM> progress;
};

TEST_F(FtpDownloaderTest, FetchesWholeOrStreamedIntoTheDownloadFolder) {
    const std::vector<FetchCase> cases = {
        {"whole.bin", 5000, false, 0, {}},
        {"empty.bin", 0, false, 0, {}},
        {"three_chunks.bin", 300, true, 300, {0, 42, 85, 100, 100}},
        {"two_chunks.bin", 256, true, 256, {0, 50, 100, 100}},
        {"longer.bin", 400, true, 256, {0, 50, 100, 100}},
    };
    const fs::path cwd = fs::current_path();
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const FetchCase& c = cases[i];
        SCOPED_TRACE(c.name);
        const std::string bytes = pattern(c.remote_size, static_cast<unsigned>(i));
        server_.put(std::string("orbits/") + c.name, bytes);
        Owner owner;
        {
            CFtpDownloader downloader(owner.hwnd());
            EXPECT_TRUE(
                downloader.DownloadFile(settings_, c.name, c.streamed, c.expected_size, true));
            ASSERT_TRUE(owner.run_until_end());
            owner.settle();
            EXPECT_TRUE(downloader.finished());
        }
        std::vector<std::string> outline = {connecting(),
                                            std::string("Downloading ") + c.name + " ..."};
        if (c.streamed) outline.push_back("<range>");
        outline.insert(outline.end(), {"Download is completed", "<done>"});
        EXPECT_EQ(owner.outline(), outline);
        EXPECT_EQ(owner.progress(), c.progress);
        const std::size_t kept = c.streamed ? c.expected_size : c.remote_size;
        EXPECT_EQ(ReadFile(local(c.name)), bytes.substr(0, kept));
    }
    EXPECT_EQ(fs::current_path(), cwd);
}

TEST_F(FtpDownloaderTest, ListFetchesDatetimeWholeAndStreamsTheOrbitFile) {
    const std::string datetime = "2026 12 07 01:00:00\n";
    const std::string orbits = pattern(kListStreamSize, 3);
    server_.put("orbits/datetime.txt", datetime);
    server_.put("orbits/MTK7d.EPO", orbits);
    CFtpDownloader downloader(owner_.hwnd());
    const std::vector<std::string> names = {"datetime.txt", "MTK7d.EPO"};
    ASSERT_TRUE(downloader.DownloadFiles(settings_, &names, 0, false));
    ASSERT_TRUE(owner_.run_until_end());
    owner_.settle();
    EXPECT_EQ(owner_.outline(),
              (std::vector<std::string>{connecting(), "Downloading datetime.txt ...",
                                        "Downloading MTK7d.EPO ...", "<range>",
                                        "Download is completed", "<done>"}));
    // 0, one per chunk (420 of 128 bytes), the final 100.
    const auto progress = owner_.progress();
    ASSERT_EQ(progress.size(), 422u);
    EXPECT_EQ(progress.front(), 0u);
    EXPECT_EQ(progress[1], 128u * 100 / kListStreamSize);
    EXPECT_EQ(progress.back(), 100u);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(ReadFile(local("datetime.txt")), datetime);
    EXPECT_EQ(ReadFile(local("MTK7d.EPO")), orbits);
}

TEST_F(FtpDownloaderTest, ListStopsAtTheFirstFailingFile) {
    server_.put("orbits/datetime.txt", "x");
    server_.put("orbits/later.EPO", pattern(kListStreamSize, 1));
    CFtpDownloader downloader(owner_.hwnd());
    const std::vector<std::string> names = {"datetime.txt", "missing.EPO", "later.EPO"};
    ASSERT_TRUE(downloader.DownloadFiles(settings_, &names, 0, true));
    ASSERT_TRUE(owner_.run_until_end());
    owner_.settle();
    EXPECT_EQ(owner_.outline(),
              (std::vector<std::string>{connecting(), "Downloading datetime.txt ...",
                                        "Downloading missing.EPO ...", "<range>", "FTP Exception ",
                                        "<failed>"}));
    EXPECT_FALSE(fs::exists(local("missing.EPO")));
    EXPECT_FALSE(fs::exists(local("later.EPO")));
    EXPECT_FALSE(downloader.finished());
    EXPECT_FALSE(downloader.DownloadFiles(settings_, nullptr, 0, true));
}

struct FailureCase {
    const char* label;
    std::function<void(FtpSettings&)> change;
    std::string name;
    bool streamed;
    std::vector<std::string> after_connect;  // "<server>" stands for the address
};

TEST_F(FtpDownloaderTest, EachFailureIsOneStatusLineAndOneFailedMessage) {
    server_.put("orbits/short.bin", pattern(200, 9));
    const std::vector<FailureCase> cases = {
        {"wrong password",
         [](FtpSettings& s) { s.password = "wrong"; },
         "short.bin",
         false,
         {"Error in connecting FTP site <server>"}},
        {"nobody listening",
         [](FtpSettings& s) { s.server = "127.0.0.1:1"; },
         "short.bin",
         true,
         {"Error in connecting FTP site 127.0.0.1:1"}},
        {"bad port",
         [](FtpSettings& s) { s.server = "127.0.0.1:99999"; },
         "short.bin",
         false,
         {"Error in connecting FTP site 127.0.0.1:99999"}},
        {"missing folder",
         [](FtpSettings& s) { s.folder = "nowhere"; },
         "short.bin",
         false,
         {"FTP set current directory err"}},
        {"missing file, whole",
         nullptr,
         "absent.bin",
         false,
         {"Downloading absent.bin ...", "FTP Exception "}},
        {"missing file, streamed",
         nullptr,
         "absent.bin",
         true,
         {"Downloading absent.bin ...", "<range>", "FTP Exception "}},
        {"shorter than expected",
         nullptr,
         "short.bin",
         true,
         {"Downloading short.bin ...", "<range>", "FTP : exceptionFTP : SetWriteBufferSize fail"}},
        {"parent folder", nullptr, "../escape.bin", false, {"Invalid file name ../escape.bin"}},
        {"separator", nullptr, "orbits/short.bin", true, {"Invalid file name orbits/short.bin"}},
        {"absolute", nullptr, "/tmp/escape.bin", false, {"Invalid file name /tmp/escape.bin"}},
        {"backslash", nullptr, "..\\escape.bin", false, {"Invalid file name ..\\escape.bin"}},
        {"dot dot", nullptr, "..", false, {"Invalid file name .."}},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.label);
        FtpSettings settings = settings_;
        if (c.change) c.change(settings);
        Owner owner;
        {
            CFtpDownloader downloader(owner.hwnd());
            downloader.DownloadFile(settings, c.name, c.streamed, 300, true);
            ASSERT_TRUE(owner.run_until_end());
            owner.settle();
        }
        std::vector<std::string> outline = {"Connnect to Host(" + settings.server + ")"};
        for (std::string line : c.after_connect) {
            if (auto at = line.find("<server>"); at != std::string::npos)
                line.replace(at, 8, settings.server);
            outline.push_back(line);
        }
        outline.push_back("<failed>");
        EXPECT_EQ(owner.outline(), outline);
        EXPECT_EQ(owner.count(update::WM_FTP_FAILED), 1);
    }
    // Only the bytes that arrived, never a padded chunk.
    EXPECT_EQ(ReadFile(local("short.bin")), pattern(200, 9));
    // Nothing was written outside the download folder, nor under a refused name.
    EXPECT_FALSE(fs::exists(env_.documents_dir() / "escape.bin"));
    EXPECT_FALSE(fs::exists("/tmp/escape.bin"));
    EXPECT_FALSE(fs::exists(local("orbits")));
    std::vector<fs::path> written;
    for (const auto& entry : fs::recursive_directory_iterator(env_.documents_dir()))
        written.push_back(fs::relative(entry.path(), env_.documents_dir()));
    EXPECT_EQ(written, (std::vector<fs::path>{"Stride Log", "Stride Log/short.bin"}));
}

TEST_F(FtpDownloaderTest, ARelativeDocumentsFolderIsNotWrittenTo) {
    server_.put("orbits/datetime.txt", "x");
    env_.set_env("XDG_DOCUMENTS_DIR", "relative-documents");
    CFtpDownloader downloader(owner_.hwnd());
    downloader.DownloadFile(settings_, "datetime.txt", false, 0, true);
    ASSERT_TRUE(owner_.run_until_end());
    owner_.settle();
    EXPECT_EQ(owner_.outline(),
              (std::vector<std::string>{connecting(), "FTP : Write local file fail", "<failed>"}));
    EXPECT_FALSE(fs::exists("relative-documents"));
}

TEST_F(FtpDownloaderTest, AFileThatArrivesWithinASecondShowsItsRate) {
    server_.put("orbits/quick.EPO", pattern(kListStreamSize, 7));
    CFtpDownloader downloader(owner_.hwnd());
    const auto start = std::chrono::steady_clock::now();
    downloader.DownloadFile(settings_, "quick.EPO", true, kListStreamSize, true);
    ASSERT_TRUE(owner_.run_until_end());
    const auto took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    owner_.settle();
    ASSERT_EQ(owner_.count(update::WM_FTP_DONE), 1);
    // Every chunk after the first millisecond carries both texts.
    const auto rates = owner_.texts(update::WM_FTP_RATE);
    const auto lefts = owner_.texts(update::WM_FTP_TIME_LEFT);
    ASSERT_FALSE(rates.empty()) << "done in " << took.count() << " s";
    EXPECT_EQ(rates.size(), lefts.size());
    EXPECT_LE(rates.size(), 420u);
    for (const auto& rate : rates) EXPECT_TRUE(matches(rate, "#.##")) << rate;
    // The last chunk: the whole file within the time measured here, nothing left.
    EXPECT_GE(std::stod(rates.back()), kListStreamSize / 1000.0 / took.count() - 0.01);
    EXPECT_EQ(lefts.back(), "00:00");
}

struct FullDiskCase {
    const char* name;
    std::uint32_t size;
};

TEST_F(FtpDownloaderTest, ALocalFileThatCannotBeWrittenIsAFailedDownload) {
    const std::vector<FullDiskCase> cases = {
        // Held in the file's buffer to the end: only the last flush fails.
        {"small.bin", 300},
        // The buffer fills and fails part way.
        {"large.EPO", kListStreamSize},
    };
    fs::create_directories(local(""));
    for (const FullDiskCase& c : cases) {
        SCOPED_TRACE(c.name);
        server_.put(std::string("orbits/") + c.name, pattern(c.size, 8));
        // A full disk: every write to the local file fails.
        fs::create_symlink("/dev/full", local(c.name));
        Owner owner;
        {
            CFtpDownloader downloader(owner.hwnd());
            downloader.DownloadFile(settings_, c.name, true, c.size, true);
            ASSERT_TRUE(owner.run_until_end());
            owner.settle();
        }
        const std::vector<std::string> outline = {
            connecting(), std::string("Downloading ") + c.name + " ...", "<range>",
            "FTP : Write local file fail", "<failed>"};
        EXPECT_EQ(owner.outline(), outline);
    }
}

TEST_F(FtpDownloaderTest, PassiveAndActiveModesUseTheirDataConnection) {
    const std::string bytes = pattern(3000, 5);
    server_.put("orbits/mode.bin", bytes);
    for (const bool passive : {true, false}) {
        SCOPED_TRACE(passive ? "passive" : "active");
        const std::size_t log_before = server_.log().size();
        Owner owner;
        {
            CFtpDownloader downloader(owner.hwnd());
            downloader.DownloadFile(settings_, "mode.bin", passive, 3000, passive);
            ASSERT_TRUE(owner.run_until_end());
        }
        EXPECT_EQ(owner.count(update::WM_FTP_DONE), 1);
        EXPECT_EQ(ReadFile(local("mode.bin")), bytes);
        const std::string log = server_.log().substr(log_before);
        const bool saw_passive =
            log.find("<- EPSV") != std::string::npos || log.find("<- PASV") != std::string::npos;
        const bool saw_active =
            log.find("<- EPRT") != std::string::npos || log.find("<- PORT") != std::string::npos;
        EXPECT_EQ(saw_passive, passive) << log;
        EXPECT_EQ(saw_active, !passive) << log;
        fs::remove(local("mode.bin"));
    }
}

TEST_F(FtpDownloaderTest, ASecondDownloadReusesTheConnection) {
    server_.put("orbits/one.bin", pattern(700, 1));
    server_.put("orbits/two.bin", pattern(900, 2));
    CFtpDownloader downloader(owner_.hwnd());
    downloader.DownloadFile(settings_, "one.bin", false, 0, true);
    ASSERT_TRUE(owner_.run_until([&] { return owner_.count(update::WM_FTP_DONE) == 1; }));
    // Settings that could not log in are not used: the open connection is.
    FtpSettings changed = settings_;
    changed.password = "wrong";
    changed.folder = "nowhere";
    downloader.DownloadFile(changed, "two.bin", true, 900, true);
    ASSERT_TRUE(owner_.run_until([&] { return owner_.count(update::WM_FTP_DONE) == 2; }));
    owner_.settle();
    EXPECT_EQ(owner_.count(update::WM_FTP_FAILED), 0);
    EXPECT_EQ(ReadFile(local("two.bin")), pattern(900, 2));
    const std::string log = server_.log();
    std::size_t logins = 0;
    for (auto at = log.find("USER user"); at != std::string::npos;
         at = log.find("USER user", at + 1))
        ++logins;
    EXPECT_EQ(logins, 1u) << log;
}

TEST(FtpDownloaderText, ServerAddressTimeLeftAndNames) {
    struct AddressCase {
        const char* text;
        std::optional<std::pair<std::string, std::uint16_t>> parsed;
    };
    const std::vector<AddressCase> addresses = {
        {"ftp.example.org", std::pair<std::string, std::uint16_t>{"ftp.example.org", 21}},
        {"127.0.0.1:2121", std::pair<std::string, std::uint16_t>{"127.0.0.1", 2121}},
        {"[::1]:2121", std::pair<std::string, std::uint16_t>{"[::1]", 2121}},
        {"::1", std::pair<std::string, std::uint16_t>{"::1", 21}},
        {"host:", std::nullopt},
        {"host:0", std::nullopt},
        {"host:65536", std::nullopt},
        {"host:21x", std::nullopt},
    };
    for (const auto& c : addresses) {
        SCOPED_TRACE(c.text);
        const auto parsed = parse_server(c.text);
        ASSERT_EQ(parsed.has_value(), c.parsed.has_value());
        if (parsed) {
            EXPECT_EQ(std::make_pair(parsed->host, parsed->port), *c.parsed);
        }
    }
    const std::vector<std::pair<std::uint32_t, const char*>> times = {
        {0, "00:00"},    {59, "00:59"},      {61, "01:01"},
        {3599, "59:59"}, {3600, "01:00:00"}, {3725, "01:02:05"}};
    for (const auto& [seconds, text] : times) EXPECT_EQ(format_time_left(seconds), text);
    for (const char* safe : {"MTK7d.EPO", "datetime.txt", ".hidden"})
        EXPECT_TRUE(is_safe_download_name(safe)) << safe;
    for (const char* unsafe : {"", ".", "..", "a..b", "a/b", "/abs", "a\\b", "../x"})
        EXPECT_FALSE(is_safe_download_name(unsafe)) << unsafe;
}

TEST(FtpDownloaderText, RateAndTimeLeftFromTheMillisecondsElapsed) {
    struct Case {
        std::uint32_t done, estimate;
        std::uint64_t elapsed_ms;
        std::optional<std::pair<std::string, std::string>> texts;
    };
    using Texts = std::pair<std::string, std::string>;
    const std::vector<Case> cases = {
        {128, kListStreamSize, 0, std::nullopt},
        {0, kListStreamSize, 500, std::nullopt},
        {128, kListStreamSize, 1, Texts{"128.00", "00:00"}},
        {999, kListStreamSize, 999, Texts{"1.00", "00:52"}},
        {3000, 12000, 1500, Texts{"2.00", "00:04"}},
        {53760, kListStreamSize, 250, Texts{"215.04", "00:00"}},
        {10000, 5'000'000, 2000, Texts{"5.00", "16:38"}},
        {1000, 10'000'000, 1000, Texts{"1.00", "02:46:39"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.done << " of " << c.estimate << " in " << c.elapsed_ms << " ms");
        const auto texts = transfer_rate_texts(c.done, c.estimate, c.elapsed_ms);
        ASSERT_EQ(texts.has_value(), c.texts.has_value());
        if (texts) {
            EXPECT_EQ(texts->rate, c.texts->first);
            EXPECT_EQ(texts->time_left, c.texts->second);
        }
    }
}

// Slow enough (8 kB/s) for a stop mid-file and for the rate and time-left texts.
class ThrottledFtpDownloaderTest : public FtpDownloaderTest {
  protected:
    ThrottledFtpDownloaderTest() : slow_(env_.root() / "slow", 8192) {}
    void SetUp() override {
        FtpDownloaderTest::SetUp();
        ASSERT_TRUE(slow_.running());
        settings_.server = slow_.address();
    }
    FtpServer slow_;
};

TEST_F(ThrottledFtpDownloaderTest, StopDuringAStreamedTransferEndsSilently) {
    const std::string bytes = pattern(kListStreamSize, 4);
    slow_.put("orbits/big.EPO", bytes);
    CFtpDownloader downloader(owner_.hwnd());
    const auto started = std::chrono::steady_clock::now();
    downloader.DownloadFile(settings_, "big.EPO", true, kListStreamSize, true);
    // A chunk past the first one and a half seconds, so the rate is that of
    // the throttled flow rather than of the first burst.
    std::size_t rates_before = 0;
    ASSERT_TRUE(owner_.run_until(
        [&] {
            if (std::chrono::steady_clock::now() - started < std::chrono::milliseconds(1500)) {
                rates_before = owner_.texts(update::WM_FTP_RATE).size();
                return false;
            }
            return owner_.texts(update::WM_FTP_RATE).size() > rates_before;
        },
        20));
    const auto before = std::chrono::steady_clock::now();
    downloader.StopDownload();
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_TRUE(downloader.finished());
    EXPECT_FALSE(downloader.running());
    owner_.settle();
    EXPECT_EQ(owner_.count(update::WM_FTP_DONE), 0);
    EXPECT_EQ(owner_.count(update::WM_FTP_FAILED), 0);
    const auto written = ReadFile(local("big.EPO"));
    ASSERT_TRUE(written);
    EXPECT_GT(written->size(), 0u);
    EXPECT_LT(written->size(), bytes.size());
    EXPECT_EQ(written->size() % kChunkBytes, 0u);
    EXPECT_EQ(*written, bytes.substr(0, written->size()));
    // Progress matches what was written, chunk by chunk.
    EXPECT_EQ(owner_.progress().back(), written->size() * 100 / kListStreamSize);
    for (const auto& rate : owner_.texts(update::WM_FTP_RATE)) EXPECT_TRUE(matches(rate, "#.##")) << rate;
    for (const auto& left : owner_.texts(update::WM_FTP_TIME_LEFT))
        EXPECT_TRUE(matches(left, "##:##")) << left;
    // About 8 kB/s, so some seconds left of 53760 bytes.
    const double rate = std::stod(owner_.texts(update::WM_FTP_RATE).back());
    EXPECT_GT(rate, 2.0);
    EXPECT_LT(rate, 40.0);
    EXPECT_GE(owner_.texts(update::WM_FTP_TIME_LEFT).back(), "00:01");
}

TEST_F(ThrottledFtpDownloaderTest, AServerThatDiesMidFileIsAFailedDownloadOfWhatArrived) {
    const std::string bytes = pattern(kListStreamSize, 6);
    slow_.put("orbits/big.EPO", bytes);
    CFtpDownloader downloader(owner_.hwnd());
    downloader.DownloadFile(settings_, "big.EPO", true, kListStreamSize, true);
    ASSERT_TRUE(owner_.run_until(
        [&] { return !owner_.progress().empty() && owner_.progress().back() >= 10; }, 20));
    slow_.kill_now();
    ASSERT_TRUE(owner_.run_until_end());
    owner_.settle();
    EXPECT_EQ(owner_.count(update::WM_FTP_FAILED), 1);
    EXPECT_EQ(owner_.count(update::WM_FTP_DONE), 0);
    const auto written = ReadFile(local("big.EPO"));
    ASSERT_TRUE(written);
    EXPECT_LT(written->size(), bytes.size());
    EXPECT_EQ(*written, bytes.substr(0, written->size())) << "only bytes that arrived";
}

// Sends 1000 bytes of every file, then nothing, the connection left open.
class StalledFtpDownloaderTest : public FtpDownloaderTest {
  protected:
    StalledFtpDownloaderTest() : stalled_(env_.root() / "stalled", 0, 1000) {}
    void SetUp() override {
        FtpDownloaderTest::SetUp();
        ASSERT_TRUE(stalled_.running());
        settings_.server = stalled_.address();
    }
    FtpServer stalled_;
};

TEST_F(StalledFtpDownloaderTest, ADataConnectionSilentForTheStallLimitFails) {
    struct Case {
        bool streamed;
        std::string status;
    };
    const std::vector<Case> cases = {
        {true, "FTP : exceptionFTP : SetWriteBufferSize fail"},
        {false, "FTP Exception "},
    };
    const std::string bytes = pattern(kListStreamSize, 2);
    stalled_.put("orbits/big.EPO", bytes);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.streamed ? "streamed" : "whole");
        Owner owner;
        CFtpDownloader downloader(owner.hwnd());
        downloader.set_stall_limit_ms(1000);
        const auto start = std::chrono::steady_clock::now();
        downloader.DownloadFile(settings_, "big.EPO", c.streamed, kListStreamSize, true);
        ASSERT_TRUE(owner.run_until_end(15));
        const auto took = std::chrono::steady_clock::now() - start;
        owner.settle();
        EXPECT_GE(took, std::chrono::milliseconds(1000));
        EXPECT_LT(took, std::chrono::seconds(6));
        std::vector<std::string> outline = {"Connnect to Host(" + stalled_.address() + ")",
                                            "Downloading big.EPO ..."};
        if (c.streamed) outline.push_back("<range>");
        outline.insert(outline.end(), {c.status, "<failed>"});
        EXPECT_EQ(owner.outline(), outline);
        if (c.streamed) {
            EXPECT_EQ(ReadFile(local("big.EPO")), bytes.substr(0, 1000));
        }
    }
}

}  // namespace
}  // namespace stridelog::update
