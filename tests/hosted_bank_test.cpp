// Hosted banks: the zip extractor's refusals and limits, and the fetch into
// the cache (under a test XDG_DATA_HOME) from a real HTTPS server on
// 127.0.0.1 (tests/banks/https_server.py) with a throw-away certificate
// authority made here with openssl. The fetches skip without python3 or openssl.
// Every refusal of the extractor fails a fetch the same way; the fetch cases
// keep one unsafe entry and the limits a fetch passes on.
#include <gtest/gtest.h>

#include <archive.h>
#include <archive_entry.h>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

#include "banks/hosted_bank.h"
#include "banks/runtime_bank.h"
#include "platform/user_folders.h"

namespace {

namespace fs = std::filesystem;
using namespace norva;

struct Entry {
  std::string name, data;
  unsigned type = AE_IFREG;
  std::string link = {};
};

std::string zipOf(const std::vector<Entry> &entries, bool deflate = false) {
  std::string out;
  archive *zip = archive_write_new();
  archive_write_set_format_zip(zip);
  archive_write_set_options(zip, deflate ? "zip:compression=deflate,zip:hdrcharset=UTF-8"
                                         : "zip:compression=store,zip:hdrcharset=UTF-8");
  archive_write_open(zip, &out, nullptr, [](archive *, void *to, const void *bytes, size_t size) {
    static_cast<std::string *>(to)->append(static_cast<const char *>(bytes), size);
    return la_ssize_t(size);
  }, nullptr);
  for (const Entry &e : entries) {
    archive_entry *entry = archive_entry_new();
    archive_entry_set_pathname_utf8(entry, e.name.c_str());
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

// The digest a fetch is pinned to (runtime_bank_test checks it on a known vector).
std::string pinOf(const std::string &bytes) { return sha256Hex(bytes.data(), bytes.size()); }

std::string scratchFolder() {
  char name[] = "/tmp/norva-hosted-XXXXXX";
  return ::mkdtemp(name) != nullptr ? name : "";
}

std::string readText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

size_t entriesBelow(const std::string &folder) {
  return size_t(std::distance(fs::recursive_directory_iterator(folder), {}));
}

TEST(HostedZip, RefusalsAndLimits) {
  const std::string scratch = scratchFolder(), into = scratch + "/into";
  ASSERT_FALSE(scratch.empty());
  std::vector<Entry> ten;
  for (int i = 0; i < 10; ++i) ten.push_back({"f" + std::to_string(i), "x"});
  std::vector<Entry> eleven = ten;
  eleven.push_back({"f10", "x"});
  std::string damaged = zipOf({{"a.txt", "payload-payload"}}), deep;
  damaged[damaged.find("payload-payload") + 9] = 'X';
  while (deep.size() <= kZipMaxNameBytes) deep += "d/";
  const ZipLimits small{1000, 10};
  const struct {
    const char *label;
    std::string zip;
    ZipLimits limits;
    ZipOutcome expected;
  } cases[] = {
      {"files, folders, UTF-8 names", zipOf({{"b/bank.json", "{}"}, {"b/s/", "", AE_IFDIR}, {"b/s/\xC3\xA9", "RIFF"}}),
       {}, ZipOutcome::ok},
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
      {"damaged data", damaged, {}, ZipOutcome::unreadable},
  };
  for (const auto &c : cases) {
    ASSERT_TRUE(fs::create_directory(into));
    std::string detail;
    const ZipOutcome got = extractZip(c.zip.data(), c.zip.size(), into, detail, c.limits);
    EXPECT_STREQ(zipOutcomeName(got), zipOutcomeName(c.expected)) << c.label << ": " << detail;
    EXPECT_EQ(entriesBelow(scratch), entriesBelow(into) + 1) << c.label << ": something was written outside";
    if (c.label[0] == 'f') {
      EXPECT_EQ(readText(into + "/b/s/\xC3\xA9"), "RIFF"); // read in the C locale all the same
    }
    ASSERT_TRUE(removeTree(into));
  }
  fs::remove_all(scratch);
}

class Hosted : public ::testing::Test {
protected:
  static inline std::string scratch, ca;
  static inline FILE *server = nullptr; // tests/banks/https_server.py's output: its port and process id
  static inline int port = 0, pid = 0, tests = 0;

  static void SetUpTestSuite() {
    if (std::system("command -v python3 >/dev/null && command -v openssl >/dev/null") != 0) return;
    scratch = scratchFolder();
    ca = scratch + "/ca.pem";
    const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
    const std::string make = "cd " + scratch + " && mkdir www && exec 2>/dev/null && openssl req -x509" + ec +
                             "-keyout ca.key -out ca.pem -days 2 -subj /CN=norva-test-ca && openssl req" + ec +
                             "-keyout server.key -out server.csr -subj /CN=127.0.0.1 && echo "
                             "subjectAltName=IP:127.0.0.1 >server.ext && openssl x509 -req -in server.csr -CA ca.pem "
                             "-CAkey ca.key -CAcreateserial -days 2 -extfile server.ext -out server.pem";
    if (std::system(make.c_str()) == 0) {
      const std::string run = "exec python3 " NORVA_TEST_HTTPS_SERVER " " + scratch + "/www " + scratch +
                              "/server.pem " + scratch + "/server.key";
      server = ::popen(run.c_str(), "r");
      if (server != nullptr && std::fscanf(server, "%d %d", &port, &pid) != 2) port = 0;
    }
    ::setenv("no_proxy", "*", 1);
  }
  static void TearDownTestSuite() {
    if (pid > 0) ::kill(pid, SIGTERM);
    if (server != nullptr) ::pclose(server);
    if (!scratch.empty()) fs::remove_all(scratch);
  }
  void SetUp() override {
    if (scratch.empty()) GTEST_SKIP() << "python3 or openssl is missing";
    ASSERT_GT(port, 0) << "the test server did not start";
    data = scratch + "/data" + std::to_string(++tests);
    ::setenv("XDG_DATA_HOME", data.c_str(), 1);
  }

  std::string data, folder, error;
  std::string root() const { return data + "/Norva/banks"; }
  size_t cached() const { return size_t(std::distance(fs::directory_iterator(root()), {})); }
  static std::string url(const std::string &path, int at = port) {
    return "https://127.0.0.1:" + std::to_string(at) + "/" + path;
  }
  static std::string serve(const std::string &file, const std::string &bytes) {
    std::ofstream(scratch + "/www/" + file, std::ios::binary) << bytes;
    return url(file);
  }
  bool fetch(const std::string &at, const std::string &pin, HostedFetchOptions options = {}) {
    options.https.caFile = options.https.caFile == "system" ? "" : ca; // the test authority, for the tests alone
    return fetchHostedBank(at, pin, folder, error, options);
  }
};

TEST_F(Hosted, RefusedBeforeAnythingElse) {
  const std::string pin(64, 'a');
  const std::string climbing = std::string("../../../../../../../../../../") + "../../../../../../../../../../root";
  const struct {
    std::string url, pin;
    const char *error;
  } cases[] = {
      {"not a url", std::string(63, 'a'), kHostedPinMalformed},
      {"not a url", std::string(65, 'a'), kHostedPinMalformed},
      {"not a url", climbing, kHostedPinMalformed},
      {"not a url", pin, kHostedUrlInvalid}, {"http://127.0.0.1/x.zip", pin, kHostedUrlNotHttps},
      {"ftp://127.0.0.1/x.zip", pin, kHostedUrlNotHttps},
  };
  for (const auto &c : cases) {
    folder = "stale";
    EXPECT_FALSE(fetch(c.url, c.pin));
    EXPECT_EQ(error, c.error) << c.url << " " << c.pin;
    EXPECT_EQ(folder, "");
    EXPECT_EQ(fs::exists(data), error != kHostedPinMalformed) << "the pin is checked before the cache is made";
  }
  ::setenv("XDG_DATA_HOME", "relative/data", 1); // ignored: not absolute
  ::setenv("HOME", "/home/norva-test", 1);
  EXPECT_EQ(userDataFolder(), "/home/norva-test/.local/share");
  ::setenv("XDG_DATA_HOME", "/dev/null/data", 1); // below a file: nothing can be made
  EXPECT_FALSE(fetch(url("x.zip"), pin));
  EXPECT_EQ(error, kHostedNoCacheFolder);
  EXPECT_EQ(std::string(kHostedDigestMismatchTail).substr(0, 3), "\xE2\x80\xA6"); // U+2026
}

TEST_F(Hosted, FailedFetchesLeaveNothingBehind) {
  const std::string bank = zipOf({{"bank/bank.json", "{}"}});
  std::string upper = pinOf(bank);
  for (char &c : upper) c = char(std::toupper(c));
  const std::string mismatch = kHostedDigestMismatchLead + pinOf(bank).substr(0, 16) + kHostedDigestMismatchTail;
  HostedFetchOptions untrusted, small;
  untrusted.https.caFile = "system";
  small.https.maxBodyBytes = bank.size() - 1;
  const ZipLimits tiny{1000, 10};
  const struct {
    std::string url, bytes, pin, error; // pin "": the bytes' own
    HostedFetchOptions options;
  } cases[] = {
      {"bank.zip", bank, pinOf("other"), mismatch, {}}, {"bank.zip", bank, upper, mismatch, {}},
      {"to-http/bank.zip", bank, "", "the download was redirected to an address that is not https", {}},
      {"missing.zip", "", pinOf("x"), "the server answered with HTTP status 404", {}},
      {"bank.zip", bank, "", "the download is larger than " + std::to_string(bank.size() - 1) + " bytes", small},
      {"bank.zip", bank, "", "the download failed: ", untrusted}, // unknown authority
      {"https://localhost:" + std::to_string(port) + "/bank.zip", bank, "", "the download failed: ", {}}, // wrong host
      {"text.zip", "not a zip", "", kHostedNotAZip, {}},
      {"up.zip", zipOf({{"bank.json", "{}"}, {"../up.txt", "x"}}), "", kHostedNotAZip, {}},
      {"bomb.zip", zipOf({{"zeros", std::string(1 << 20, '\0')}}, true), "", kHostedNotAZip, {{}, tiny}},
  };
  for (const auto &c : cases) {
    const std::string file = c.url.substr(c.url.rfind('/') + 1);
    const std::string at = c.url.find(':') != std::string::npos ? c.url : url(c.url);
    if (!c.bytes.empty()) serve(file, c.bytes);
    EXPECT_FALSE(fetch(at, c.pin.empty() ? pinOf(c.bytes) : c.pin, c.options)) << at;
    EXPECT_EQ(error.substr(0, c.error.size()), c.error) << at << ": " << error;
    EXPECT_EQ(entriesBelow(data), 2u) << at << ": more than Norva/banks is left";
  }
}

TEST_F(Hosted, BankFolderIsTheOneTopFolderOrTheWholeArchive) {
  const struct {
    std::vector<Entry> entries;
    const char *expected; // a file, relative to the cached folder
  } cases[] = {
      {{{"bank/bank.json", "1"}, {"bank/a.wav", "w"}}, "bank.json"},   // asked for as HTTPS://
      {{{"one/bank.json", "2"}, {"two/b.wav", "w"}}, "one/bank.json"}, // asked for through a redirect
      {{{"bank.json", "3"}, {"sub/a.wav", "w"}}, "sub/a.wav"},         // a stray file sits at the target
      {{{".meta/x", "4"}, {"bank/bank.json", "4"}, {"notes.txt", "n"}}, "bank.json"},
  };
  size_t n = 0;
  for (const auto &c : cases) {
    const std::string zip = zipOf(c.entries), pin = pinOf(zip), file = "layout" + std::to_string(++n) + ".zip";
    std::string at = serve(file, zip);
    if (n == 1) at.replace(0, 5, "HTTPS");
    if (n == 2) at = url("to-https/" + file);
    if (n == 3) std::ofstream(root() + "/" + pin) << "not a bank";
    ASSERT_TRUE(fetch(at, pin)) << file << ": " << error;
    EXPECT_EQ(folder, root() + "/" + pin);
    EXPECT_TRUE(fs::is_regular_file(folder + "/" + c.expected)) << file;
    EXPECT_EQ(cached(), n) << file << ": a staging folder is left";
    const std::string first = folder;
    for (const std::string &gone : {url(file, 1), std::string("http://nowhere.invalid/x.zip")}) {
      EXPECT_TRUE(fetch(gone, pin)) << gone << ": a cached digest needs no server, whatever the url";
      EXPECT_EQ(folder, first);
    }
  }
}

TEST_F(Hosted, SameDigestOnTwoThreadsKeepsOneWholeFolder) {
  for (size_t round = 1; round <= 4; ++round) {
    const std::string manifest = std::to_string(round);
    const std::string zip = zipOf({{"bank/bank.json", manifest}, {"bank/a.wav", std::string(200000, 'w')}});
    const std::string at = serve("race.zip", zip), pin = pinOf(zip);
    std::string otherFolder, otherError;
    bool otherOk = false;
    std::thread other([&] { otherOk = fetchHostedBank(at, pin, otherFolder, otherError, {{ca}, {}}); });
    EXPECT_TRUE(fetch(at, pin)) << error;
    other.join();
    EXPECT_TRUE(otherOk) << otherError;
    EXPECT_EQ(otherFolder, folder);
    EXPECT_EQ(readText(folder + "/bank.json"), manifest);
    EXPECT_EQ(fs::file_size(folder + "/a.wav"), 200000u);
    EXPECT_EQ(cached(), round) << "a staging folder is left";
  }
}

} // namespace
