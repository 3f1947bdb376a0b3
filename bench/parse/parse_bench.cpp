// Parse times of the event feed and device answers as the request loop thread
// sees them. The 1000-event disk answer is the largest answer the poller
// handles in one go (the sync-events list holds 1000 rows).

#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "common/atomic_file.h"
#include "monitor/answer_handlers.h"

namespace orlin {
namespace {

class NullRequests final : public RequestSink {
 public:
  void Submit(const PollRequest&) override {}
  void PostJson(const std::string&, const std::string&) override {}
};

struct Bench {
  StatusModel model;
  SystemClock clock;
  DiagnosticLog log{[](std::string_view) {}, &clock};
  NullRequests requests;
  MonitorContext ctx{model, log, requests, clock, nullptr, nullptr};
};

std::string Fixture(const char* name) {
  std::string text;
  ReadWholeFile(std::filesystem::path(ORLIN_FIXTURE_DIR) / name, text);
  return text;
}

// 1000 disk events as the engine writes them, one in fifty a conflict copy.
std::string DiskEvents(int count) {
  std::string body = "[\n";
  for (int id = 1; id <= count; ++id) {
    if (id > 1) body += ",\n";
    body += "  {\n    \"id\": " + std::to_string(id) + ",\n    \"globalID\": " + std::to_string(id * 3) +
            ",\n    \"time\": \"2026-12-08T18:23:04.173872836Z\",\n    \"type\": \"" +
            (id % 2 ? "LocalChangeDetected" : "RemoteChangeDetected") +
            "\",\n    \"data\": {\n      \"action\": \"modified\",\n      \"folder\": \"default\",\n"
            "      \"folderID\": \"default\",\n      \"label\": \"Default Folder\",\n"
            "      \"modifiedBy\": \"YAW4Z2H\",\n      \"path\": \"projects/report-" +
            std::to_string(id) + (id % 50 == 0 ? ".sync-conflict-20261208-182304-YAW4Z2H.docx" : ".docx") +
            "\",\n      \"type\": \"file\"\n    }\n  }";
  }
  return body + "\n]\n";
}

void BM_DiskEvents1000(benchmark::State& state) {
  const std::string body = DiskEvents(1000);
  Bench b;
  PollAnswer answer;
  answer.body = body;
  for (auto _ : state) {
    HandleDiskEvents(b.ctx, answer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(body.size()));
  state.counters["events/s"] = benchmark::Counter(1000.0 * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DiskEvents1000)->Unit(benchmark::kMicrosecond);

void BM_Answer(benchmark::State& state, void (*handler)(MonitorContext&, const PollAnswer&), const char* fixture) {
  Bench b;
  PollAnswer answer;
  answer.body = Fixture(fixture);
  for (auto _ : state) handler(b.ctx, answer);
}
BENCHMARK_CAPTURE(BM_Answer, EventStream, HandleEventStream, "events_since0_limit1.json")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Answer, FolderCompletion, HandleFolderCompletionEvents, "events_FolderCompletion.json")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Answer, SystemStatus, HandleSystemStatus, "system_status.json")->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_Answer, Connections, HandleConnections, "system_connections.json")->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orlin

BENCHMARK_MAIN();
