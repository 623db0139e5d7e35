// Hosted banks: the zip extractor's refusals and limits, the HTTPS client's
// rules and the fetch into the cache, against a real HTTPS server on
// 127.0.0.1 (tests/banks/https_server.py) with a throw-away certificate
// authority made here with openssl. Skipped without python3 or openssl.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <pwd.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "banks/hosted_bank.h"
#include "platform/sha256.h"
#include "platform/user_folders.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;
using namespace norva;

struct Entry {
  std::string name;
  std::string data;
  unsigned type = AE_IFREG;
  std::string link = {};
};

std::string zipOf(const std::vector<Entry> &entries, bool deflate = false) {
  std::string out;
  archive *zip = archive_write_new();
  archive_write_set_format_zip(zip);
  archive_write_set_options(zip, deflate ? "zip:compression=deflate" : "zip:compression=store");
  archive_write_open(zip, &out, nullptr, [](archive *, void *to, const void *bytes, size_t size) {
    static_cast<std::string *>(to)->append(static_cast<const char *>(bytes), size);
    return la_ssize_t(size);
  }, nullptr);
  for (const Entry &e : entries) {
    archive_entry *entry = archive_entry_new();
    archive_entry_set_pathname(entry, e.name.c_str());
    archive_entry_set_filetype(entry, e.type);
    archive_entry_set_perm(entry, 0644);
    if (!e.link.empty()) archive_entry_set_symlink(entry, e.link.c_str());
    archive_entry_set_size(entry, la_int64_t(e.data.size()));
    archive_write_header(zip, entry);
    archive_write_data(zip, e.data.data(), e.data.size());
    archive_entry_free(entry);
  }
  archive_write_free(zip);
  return out;
}

std::string pinOf(const std::string &bytes) {
  Sha256Digest digest{};
  EXPECT_TRUE(sha256Digest(bytes.data(), bytes.size(), digest));
  return sha256HexOf(digest);
}

std::string scratchFolder() {
  char name[] = "/tmp/norva-hosted-XXXXXX";
  return ::mkdtemp(name) != nullptr ? name : "";
}

std::string readText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t entriesBelow(const std::string &folder) {
  return size_t(std::distance(fs::recursive_directory_iterator(folder), fs::recursive_directory_iterator()));
}

struct Server {
  pid_t pid = -1;
  int port = 0;
  bool start(const std::string &root, const std::string &certs) {
    int out[2];
    if (::pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const std::string cert = certs + "/server.pem", key = certs + "/server.key";
    const char *argv[] = {"python3", NORVA_TEST_HTTPS_SERVER, "--root", root.c_str(), "--cert", cert.c_str(), "--key", key.c_str(), nullptr};
    if (posix_spawnp(&pid, "python3", &actions, nullptr, const_cast<char **>(argv), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    FILE *lines = ::fdopen(out[0], "r");
    if (pid < 0 || std::fscanf(lines, "%d", &port) != 1) port = 0;
    std::fclose(lines);
    return port > 0;
  }
  void stop() {
    if (pid > 0 && ::kill(pid, SIGTERM) == 0) ::waitpid(pid, nullptr, 0);
    pid = -1;
  }
  ~Server() { stop(); }
};

TEST(HostedPlatform, DataFolderCacheRootAndDigestText) {
  const std::string home = std::getenv("HOME") ? std::getenv("HOME") : "";
  const std::string passwd = std::string(::getpwuid(::getuid())->pw_dir) + "/.local/share";
  const struct {
    const char *data, *home, *expected;
  } cases[] = {
      {"/x/data", "/h", "/x/data"}, {"x/data", "/h/", "/h/.local/share"}, {nullptr, "/h", "/h/.local/share"},
      {"", "relative", passwd.c_str()}, {nullptr, nullptr, passwd.c_str()},
  };
  for (const auto &c : cases) {
    c.data ? ::setenv("XDG_DATA_HOME", c.data, 1) : ::unsetenv("XDG_DATA_HOME");
    c.home ? ::setenv("HOME", c.home, 1) : ::unsetenv("HOME");
    EXPECT_EQ(userDataFolder(), c.expected) << (c.data ? c.data : "(unset)") << " " << (c.home ? c.home : "(unset)");
  }
  ::setenv("HOME", home.c_str(), 1);
  ::setenv("XDG_DATA_HOME", "/dev/null/data", 1); // below a file: nothing can be created
  std::string folder, error;
  EXPECT_EQ(hostedBankCacheRoot(), "");
  EXPECT_FALSE(fetchHostedBank("https://127.0.0.1:1/x.zip", std::string(64, 'a'), folder, error));
  EXPECT_EQ(error, kHostedNoCacheFolder);
  EXPECT_EQ(pinOf("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(std::string(kHostedDigestMismatchTail).substr(0, 3), "\xE2\x80\xA6"); // U+2026 in UTF-8
}

TEST(HostedZip, RefusalsAndLimits) {
  const std::string scratch = scratchFolder();
  ASSERT_FALSE(scratch.empty());
  std::vector<Entry> ten;
  for (int i = 0; i < 10; ++i) ten.push_back({"f" + std::to_string(i), "x"});
  std::vector<Entry> eleven = ten;
  eleven.push_back({"f10", "x"});
  std::string damaged = zipOf({{"a.txt", "payload-payload"}});
  damaged[damaged.find("payload-payload") + 9] = 'X';
  std::string deep;
  while (deep.size() <= kZipMaxNameBytes) deep += "d/";
  const ZipLimits small{1000, 10};
  const struct {
    const char *label;
    std::string zip;
    ZipLimits limits;
    ZipOutcome expected;
  } cases[] = {
      {"files and folders", zipOf({{"b/bank.json", "{}"}, {"b/s/", "", AE_IFDIR}, {"b/s/a.wav", "RIFF"}}), {}, ZipOutcome::ok},
      {"dot-dot", zipOf({{"../escape.txt", "x"}}), {}, ZipOutcome::unsafeEntry},
      {"dot-dot inside", zipOf({{"a/../../escape.txt", "x"}}), {}, ZipOutcome::unsafeEntry},
      {"absolute", zipOf({{scratch + "/abs.txt", "x"}}), {}, ZipOutcome::unsafeEntry},
      {"symbolic link", zipOf({{"link", "", AE_IFLNK, scratch}}), {}, ZipOutcome::unsafeEntry},
      {"twice the same file", zipOf({{"a", "1"}, {"a", "2"}}), {}, ZipOutcome::unsafeEntry},
      {"over-long name", zipOf({{deep + "x", "x"}}), {}, ZipOutcome::unsafeEntry},
      {"zip bomb", zipOf({{"zeros", std::string(4 << 20, '\0')}}, true), {1 << 20, 10}, ZipOutcome::overLimit},
      {"bytes at the limit", zipOf({{"a", std::string(1000, 'x')}}), small, ZipOutcome::ok},
      {"one byte over", zipOf({{"a", std::string(1000, 'x')}, {"b", "y"}}), small, ZipOutcome::overLimit},
      {"entries at the limit", zipOf(ten), small, ZipOutcome::ok},
      {"one entry over", zipOf(eleven), small, ZipOutcome::overLimit},
      {"not a zip", "this is not a zip archive", {}, ZipOutcome::unreadable},
      {"no bytes", "", {}, ZipOutcome::unreadable},
      {"damaged data", damaged, {}, ZipOutcome::unreadable},
  };
  for (const auto &c : cases) {
    const std::string into = scratch + "/into";
    ASSERT_TRUE(fs::create_directory(into));
    std::string detail;
    EXPECT_STREQ(zipOutcomeName(extractZip(c.zip.data(), c.zip.size(), into, detail, c.limits)), zipOutcomeName(c.expected))
        << c.label << ": " << detail;
    EXPECT_EQ(entriesBelow(scratch), entriesBelow(into) + 1) << c.label << ": something was written outside";
    if (c.expected == ZipOutcome::ok && c.label[0] == 'f') {
      EXPECT_EQ(readText(into + "/b/s/a.wav"), "RIFF");
    }
    ASSERT_TRUE(removeTree(into));
  }
  fs::remove_all(scratch);
}

class Hosted : public ::testing::Test {
protected:
  static inline std::string scratch, ca;
  static inline Server server;
  static inline int tests = 0;

  static void SetUpTestSuite() {
    if (std::system("command -v python3 >/dev/null && command -v openssl >/dev/null") != 0) return;
    scratch = scratchFolder();
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string make = "cd " + scratch + " && mkdir www && exec 2>/dev/null"
        " && openssl req -x509" + ec + "-keyout ca.key -out ca.pem -days 2 -subj /CN=norva-test-ca"
        " && openssl req" + ec + "-keyout server.key -out server.csr -subj /CN=127.0.0.1"
        " && echo subjectAltName=IP:127.0.0.1 > server.ext"
        " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile server.ext -out server.pem";
    if (std::system(make.c_str()) == 0) server.start(scratch + "/www", scratch);
    ca = scratch + "/ca.pem";
    ::setenv("no_proxy", "*", 1);
  }
  static void TearDownTestSuite() {
    server.stop();
    if (!scratch.empty()) fs::remove_all(scratch);
  }
  void SetUp() override {
    if (scratch.empty()) GTEST_SKIP() << "python3 or openssl is missing";
    ASSERT_GT(server.port, 0) << "the test server did not start";
    data = scratch + "/data" + std::to_string(++tests);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1); // the real cache root code, in a folder of our own
  }

  std::string data;
  std::string root() const { return data + "/Norva/banks"; }
  static std::string url(const std::string &path, int port = server.port) {
    return "https://127.0.0.1:" + std::to_string(port) + "/" + path;
  }
  static std::string serve(const std::string &file, const std::string &bytes) {
    std::ofstream(scratch + "/www/" + file, std::ios::binary) << bytes;
    return url(file);
  }
  static bool fetch(const std::string &at, const std::string &pin, std::string &folder, std::string &error,
                    const ZipLimits &zip = {}) {
    HostedFetchOptions options;
    options.https.caFile = ca; // trusted for the tests alone
    options.zip = zip;
    return fetchHostedBank(at, pin, folder, error, options);
  }
};

TEST_F(Hosted, HttpsRules) {
  const std::string body(3000, 'b');
  serve("body.bin", body);
  const struct {
    std::string url;
    bool trustTestCa;
    size_t maxBytes;
    const char *failure; // nullptr: the body arrives
  } cases[] = {
      {url("body.bin"), true, kHttpsMaxBodyBytes, nullptr},
      {url("to-https/body.bin"), true, kHttpsMaxBodyBytes, nullptr},
      {url("body.bin"), true, 3000, nullptr},
      {url("body.bin"), true, 2999, "the download is larger than 2999 bytes"},
      {url("to-http/body.bin"), true, kHttpsMaxBodyBytes, "the download was redirected to an address that is not https"},
      {url("missing.bin"), true, kHttpsMaxBodyBytes, "the server answered with HTTP status 404"},
      {url("body.bin"), false, kHttpsMaxBodyBytes, "the download failed: "},                        // unknown authority
      {"https://localhost:" + std::to_string(server.port) + "/body.bin", true, kHttpsMaxBodyBytes, "the download failed: "}, // wrong host
      {"http://127.0.0.1:" + std::to_string(server.port) + "/body.bin", true, kHttpsMaxBodyBytes, "the download failed: "},
  };
  for (const auto &c : cases) {
    std::vector<uint8_t> got;
    std::string error;
    const bool ok = httpsGet(c.url, got, error, HttpsOptions{c.trustTestCa ? ca : "", c.maxBytes});
    EXPECT_EQ(ok, c.failure == nullptr) << c.url << ": " << error;
    if (ok) {
      EXPECT_EQ(std::string(got.begin(), got.end()), body) << c.url;
    } else {
      EXPECT_EQ(error.substr(0, std::strlen(c.failure)), c.failure) << c.url << ": " << error;
    }
  }
}

TEST_F(Hosted, RefusedBeforeAnythingElse) {
  const std::string pin(64, 'a');
  const struct {
    std::string url, pin;
    const char *error;
  } cases[] = {
      {"not a url", std::string(63, 'a'), kHostedPinMalformed}, {"not a url", std::string(65, 'a'), kHostedPinMalformed},
      {"not a url", "../../../../../../../../../../../../../../../../../../../../tmp/a", kHostedPinMalformed},
      {"not a url", pin, kHostedUrlInvalid}, {"http://127.0.0.1/x.zip", pin, kHostedUrlNotHttps},
      {"ftp://127.0.0.1/x.zip", pin, kHostedUrlNotHttps},
  };
  for (const auto &c : cases) {
    std::string folder = "stale", error;
    EXPECT_FALSE(fetch(c.url, c.pin, folder, error)) << c.pin;
    EXPECT_EQ(error, c.error) << c.url << " " << c.pin;
    EXPECT_EQ(folder, "");
    if (std::string(c.error) == kHostedPinMalformed) {
      EXPECT_FALSE(fs::exists(data)) << "the pin is checked before the cache";
    }
  }
}

TEST_F(Hosted, FailedFetchesLeaveNothingBehind) {
  const std::string bank = zipOf({{"bank/bank.json", "{}"}});
  const std::string upper = [&] { std::string p = pinOf(bank); for (char &c : p) c = char(std::toupper(c)); return p; }();
  const std::string mismatch = kHostedDigestMismatchLead + pinOf(bank).substr(0, 16) + kHostedDigestMismatchTail;
  const struct {
    const char *file;
    std::string bytes, pin, path; // path: what is asked for, the file when empty
    const char *error;
    ZipLimits limits;
  } cases[] = {
      {"bank.zip", bank, pinOf("other"), "", mismatch.c_str(), {}},
      {"bank.zip", bank, upper, "", mismatch.c_str(), {}},
      {"bank.zip", bank, pinOf(bank), "to-http/bank.zip", "the download was redirected to an address that is not https", {}},
      {"text.zip", "not a zip", pinOf("not a zip"), "", kHostedNotAZip, {}},
      {"up.zip", zipOf({{"bank.json", "{}"}, {"../up.txt", "x"}}), "", "", kHostedNotAZip, {}},
      {"abs.zip", zipOf({{"bank.json", "{}"}, {data + "/abs.txt", "x"}}), "", "", kHostedNotAZip, {}},
      {"link.zip", zipOf({{"bank.json", "{}"}, {"link", "", AE_IFLNK, data}}), "", "", kHostedNotAZip, {}},
      {"bomb.zip", zipOf({{"zeros", std::string(1 << 20, '\0')}}, true), "", "", kHostedNotAZip, {1000, 10}},
  };
  for (const auto &c : cases) {
    serve(c.file, c.bytes);
    const std::string pin = c.pin.empty() ? pinOf(c.bytes) : c.pin;
    std::string folder, error;
    EXPECT_FALSE(fetch(url(c.path.empty() ? c.file : c.path), pin, folder, error, c.limits)) << c.file;
    EXPECT_EQ(error, c.error) << c.file;
    EXPECT_EQ(entriesBelow(data), 2u) << c.file << ": more than Norva/banks is left";
  }
}

TEST_F(Hosted, BankFolderIsTheOneTopFolderOrTheWholeArchive) {
  const struct {
    std::vector<Entry> entries;
    const char *expected; // a file, relative to the cached folder
    bool strayFileAtTarget;
  } cases[] = {
      {{{"bank/bank.json", "1"}, {"bank/a.wav", "w"}}, "bank.json", false},
      {{{"one/bank.json", "2"}, {"two/b.wav", "w"}}, "one/bank.json", false},
      {{{"bank.json", "3"}, {"sub/a.wav", "w"}}, "sub/a.wav", false},
      {{{".meta/x", "4"}, {"bank/bank.json", "4"}, {"notes.txt", "n"}}, "bank.json", false},
      {{{"bank/bank.json", "5"}}, "bank.json", true},
  };
  size_t n = 0;
  for (const auto &c : cases) {
    const std::string zip = zipOf(c.entries), pin = pinOf(zip), file = "layout" + std::to_string(++n) + ".zip";
    std::string at = serve(file, zip), folder, error;
    if (n == 1) at.replace(0, 5, "HTTPS"); // the scheme in capitals is accepted
    if (c.strayFileAtTarget) std::ofstream(root() + "/" + pin) << "not a bank";
    ASSERT_TRUE(fetch(at, pin, folder, error)) << file << ": " << error;
    EXPECT_EQ(folder, root() + "/" + pin);
    EXPECT_TRUE(fs::is_regular_file(folder + "/" + c.expected)) << file;
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(root()), {})), n) << file << ": a staging folder is left";
  }
}

TEST_F(Hosted, CacheHitNeedsNoServer) {
  Server own;
  ASSERT_TRUE(own.start(scratch + "/www", scratch));
  const std::string zip = zipOf({{"bank.json", "{\"id\":\"hit\"}"}}), pin = pinOf(zip);
  serve("hit.zip", zip);
  std::string first, again, error;
  ASSERT_TRUE(fetch(url("hit.zip", own.port), pin, first, error)) << error;
  own.stop();
  for (const std::string &at : {url("hit.zip", own.port), std::string("http://nowhere.invalid/x.zip")}) {
    EXPECT_TRUE(fetch(at, pin, again, error)) << at << ": " << error;
    EXPECT_EQ(again, first);
  }
  EXPECT_EQ(readText(first + "/bank.json"), "{\"id\":\"hit\"}");
}

TEST_F(Hosted, SameDigestOnTwoThreadsKeepsOneWholeFolder) {
  for (int round = 0; round < 4; ++round) {
    const std::string manifest = "{\"round\":" + std::to_string(round) + "}";
    const std::string zip = zipOf({{"bank/bank.json", manifest}, {"bank/a.wav", std::string(200000, 'w')}});
    const std::string at = serve("race.zip", zip), pin = pinOf(zip);
    std::string folders[2], errors[2];
    bool ok[2] = {};
    std::thread other([&] { ok[1] = fetch(at, pin, folders[1], errors[1]); });
    ok[0] = fetch(at, pin, folders[0], errors[0]);
    other.join();
    EXPECT_TRUE(ok[0] && ok[1]) << errors[0] << " / " << errors[1];
    EXPECT_EQ(folders[0], folders[1]);
    EXPECT_EQ(readText(folders[0] + "/bank.json"), manifest);
    EXPECT_EQ(fs::file_size(folders[0] + "/a.wav"), 200000u);
    EXPECT_EQ(size_t(std::distance(fs::directory_iterator(root()), {})), size_t(round + 1)) << "a staging folder is left";
  }
}

} // namespace
