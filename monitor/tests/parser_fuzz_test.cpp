// Seeded mutations of the captured engine answers fed to every event, device
// and system parser: none may crash, and every list keeps its cap and every
// fixed-width field its terminating NUL.

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "monitor/answer_handlers.h"
#include "monitor/tests/parser_fuzz_fakes.h"

namespace orlin {
namespace {

using testing::Fixture;
using testing::ParserHarness;

constexpr int kIterations = 3000;

const char* const kTokens[] = {"[",    "]",    "{",     "}",      ",",   ":",     "\"",     "null", "true",
                               "-1",   "1e400", "-0.5", "18446744073709551615", "99999999999999999999999",
                               "\"s\"", "[]",   "{}",    "\xff\xfe", "\\u0000", "\\ud800", "[[[[[[[[", "\"\\\""};

std::string Mutate(std::string text, std::mt19937& random) {
  auto pick = [&](std::size_t n) { return n == 0 ? std::size_t{0} : std::uniform_int_distribution<std::size_t>(0, n - 1)(random); };
  int rounds = 1 + static_cast<int>(pick(4));
  for (int i = 0; i < rounds; ++i) {
    switch (pick(6)) {
      case 0:  // truncate
        text.resize(pick(text.size() + 1));
        break;
      case 1:  // flip a byte
        if (!text.empty()) text[pick(text.size())] = static_cast<char>(pick(256));
        break;
      case 2: {  // drop a span
        std::size_t at = pick(text.size() + 1);
        text.erase(at, pick(40));
        break;
      }
      case 3:  // insert a token
        text.insert(pick(text.size() + 1), kTokens[pick(std::size(kTokens))]);
        break;
      case 4: {  // swap the value after a ':' for one of another type
        std::size_t colon = text.find(':', pick(text.size() + 1));
        if (colon == std::string::npos) break;
        std::size_t end = text.find_first_of(",}", colon);
        if (end == std::string::npos) end = text.size();
        text.replace(colon + 1, end - colon - 1, kTokens[6 + pick(std::size(kTokens) - 6)]);
        break;
      }
      default: {  // duplicate a span
        std::size_t at = pick(text.size() + 1);
        text.insert(pick(text.size() + 1), text.substr(at, pick(200)));
        break;
      }
    }
  }
  return text;
}

template <typename Row, typename Check>
void CheckList(const GuardedList<Row>& list, std::size_t cap, Check check) {
  auto rows = list.Snapshot();
  ASSERT_LE(rows.size(), cap);
  for (const Row& row : rows) check(row);
}

template <std::size_t N>
bool Terminated(const char (&field)[N]) {
  return std::memchr(field, '\0', N) != nullptr;
}

void CheckModel(const StatusModel& model) {
  CheckList(model.syncEvents, kListCapacity, [](const SyncEventRecord& r) {
    ASSERT_TRUE(Terminated(r.id) && Terminated(r.action) && Terminated(r.time));
    ASSERT_TRUE(IsValidUtf8(FieldText(r.path)));
  });
  CheckList(model.conflicts, kListCapacity, [](const PathTimeRecord& r) { ASSERT_TRUE(Terminated(r.time)); });
  auto fileRow = [](const FileItemRecord& r) {
    ASSERT_TRUE(Terminated(r.status) && Terminated(r.time) && Terminated(r.tag));
    ASSERT_GE(r.percent, 0);
    ASSERT_LE(r.percent, 100);
  };
  CheckList(model.inProgress, kListCapacity, fileRow);
  CheckList(model.unsynced, 3 * kListCapacity, fileRow);
  CheckList(model.lastSynced, kListCapacity, fileRow);
  CheckList(model.devices, 100000, [](const DeviceRecord& r) {
    ASSERT_TRUE(Terminated(r.address) && Terminated(r.uploadText) && Terminated(r.downloadText) && Terminated(r.name) &&
                Terminated(r.folder) && Terminated(r.deviceId) && Terminated(r.time) && Terminated(r.clientVersion));
    ASSERT_FALSE(FieldText(r.deviceId).empty());
  });
  ASSERT_TRUE(Terminated(model.Summary().versionText));
}

void Fuzz(unsigned seed, const std::vector<std::string>& corpus,
          const std::function<void(ParserHarness&, const std::string&)>& feed,
          const std::function<void(ParserHarness&)>& prepare = {}) {
  std::mt19937 random(seed);
  ParserHarness h;
  if (prepare) prepare(h);
  for (int i = 0; i < kIterations; ++i) {
    const std::string& seedText = corpus[static_cast<std::size_t>(i) % corpus.size()];
    std::string body = i % 10 == 0 ? seedText : Mutate(seedText, random);
    feed(h, body);
    h.clock.steady += std::chrono::milliseconds(700);
    if (i % 50 == 0 || i == kIterations - 1) {
      CheckModel(h.model);
      if (::testing::Test::HasFatalFailure()) {
        ADD_FAILURE() << "after body: " << body;
        return;
      }
    }
  }
}

std::string ManyDiskEvents(int first, int count) {
  std::string body = "[";
  for (int id = first; id < first + count; ++id) {
    if (id > first) body += ",";
    body += "{\"id\":" + std::to_string(id) + ",\"time\":\"2020-03-01T10:11:12Z\",\"type\":\"LocalChangeDetected\","
            "\"data\":{\"action\":\"modified\",\"path\":\"d/f" + std::to_string(id) +
            (id % 7 == 0 ? ".sync-conflict-20200301-101112-ABCDEFG.txt" : ".txt") + "\"}}";
  }
  return body + "]";
}

TEST(ParserFuzzTest, DiskEvents) {
  Fuzz(1, {Fixture("events_disk_since0.json"), ManyDiskEvents(1, 60), Fixture("scan_A_events.json")},
       [](ParserHarness& h, const std::string& body) { HandleDiskEvents(h.ctx, ParserHarness::Answer(body)); });
}

TEST(ParserFuzzTest, EventStream) {
  const std::string progress =
      "[{\"id\":5,\"time\":\"2021-01-02T03:04:05Z\",\"type\":\"DownloadProgress\",\"data\":{\"f\":{"
      "\"a.bin\":{\"bytesDone\":50,\"bytesTotal\":100},\"b.bin\":{\"bytesDone\":10,\"bytesTotal\":10},"
      "\"c.bin\":{\"bytesDone\":0,\"bytesTotal\":0}}}}]";
  Fuzz(
      2,
      {Fixture("events_since0_limit1.json"), Fixture("scan_A_events.json"), progress,
       "{\"id\":9,\"type\":\"FolderScanProgress\",\"data\":{\"folder\":\"f\",\"current\":25,\"total\":100,\"rate\":3}}"},
      [](ParserHarness& h, const std::string& body) {
        HandleEventStream(h.ctx, ParserHarness::Answer(body));
        if (h.model.unsynced.Size() < 3) {
          FileItemRecord row;
          for (const char* name : {"a.bin", "b.bin", "c.bin"}) {
            SetField(row.name, name);
            SetField(row.status, "queued");
            h.model.unsynced.AppendCapped(row, 3 * kListCapacity);
          }
        }
        // A scan event may have renamed the folder; keep the progress corpus matching.
        h.model.folder.SetFolderId("f");
        h.requests.submitted.clear();
      },
      [](ParserHarness& h) { h.model.folder.SetFolderId("f"); });
}

TEST(ParserFuzzTest, FolderCompletionEvents) {
  Fuzz(3, {Fixture("events_FolderCompletion.json"), Fixture("events_since0_limit1.json"), Fixture("scan_A_events.json")},
       [](ParserHarness& h, const std::string& body) { HandleFolderCompletionEvents(h.ctx, ParserHarness::Answer(body)); });
}

TEST(ParserFuzzTest, SystemStatusVersionAndDiscovery) {
  Fuzz(4, {Fixture("system_status.json"), Fixture("system_version.json"), Fixture("system_discovery.json")},
       [](ParserHarness& h, const std::string& body) {
         HandleSystemStatus(h.ctx, ParserHarness::Answer(body));
         HandleSystemVersion(h.ctx, ParserHarness::Answer(body));
         HandleDiscovery(h.ctx, ParserHarness::Answer(body));
         h.requests.submitted.clear();
       },
       [](ParserHarness& h) {
         h.model.folder.SetFolderId("f");
         h.model.devices.Replace({DeviceRecord::NewDevice("A")});
       });
}

TEST(ParserFuzzTest, ConnectionsNamesAndRemoteCompletion) {
  const std::string url =
      "http://localhost:18384/rest/db/completion?folder=f&device=VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";
  Fuzz(5, {Fixture("system_connections.json"), Fixture("system_config.json"), Fixture("db_completion.json")},
       [&](ParserHarness& h, const std::string& body) {
         HandleConnections(h.ctx, ParserHarness::Answer(body));
         HandleDeviceNames(h.ctx, ParserHarness::Answer(body));
         HandleRemoteCompletion(h.ctx, ParserHarness::Answer(body, url));
         for (const DeviceRecord& d : h.model.devices.Snapshot()) {
           ASSERT_GE(d.completion, 0);
           ASSERT_LE(d.completion, 100);
         }
         h.requests.submitted.clear();
       },
       [](ParserHarness& h) {
         h.model.folder.SetFolderId("f");
         h.model.folder.folderPercent = 50;
       });
}

}  // namespace
}  // namespace orlin
