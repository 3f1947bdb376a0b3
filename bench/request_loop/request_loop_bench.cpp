// Prints figures of the request loop: the loop thread's CPU time per
// completed request (pacing off, so the transport itself is measured) and the
// completion rate and CPU cost with the product's 100 ms pacing, with as many
// requests circulating as the status poller keeps (each completion
// re-requests its URL).
//
//   bench_request_loop [--requests N] [--seconds S] [--circulating C]

#include <sys/resource.h>
#include <time.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "engine/request_loop.h"
#include "tests/support/http_test_server.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Times the calling thread went to sleep and was woken.
long ThreadWakeUps() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return usage.ru_nvcsw;
}

double ProcessCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

struct Run {
  long completions = 0;
  double wallSeconds = 0;
  double loopCpuSeconds = 0;     // loop thread only, between first and last counted completion
  double processCpuSeconds = 0;  // everything, the test server included
  long loopWakeUps = 0;           // loop thread, same span
};

// Keeps `circulating` requests going; counts completions after a warm-up of
// one round, until `maxCompletions` or `duration` is reached.
Run Measure(orlin::RequestLoopOptions options, const std::string& url, int circulating, long maxCompletions,
            std::chrono::milliseconds duration) {
  orlin::RequestLoop loop(options);
  std::mutex m;
  std::condition_variable cv;
  bool finished = false;
  long counted = -circulating;  // the first round is warm-up (connections opened)
  double loopCpuStart = 0, loopCpuEnd = 0, processStart = 0, processEnd = 0;
  long wakeStart = 0, wakeEnd = 0;
  Clock::time_point wallStart, wallEnd;
  const Clock::time_point deadline = Clock::now() + duration + 2s;

  std::function<void(orlin::RestRequest&, const std::string&)> complete;
  auto submit = [&] {
    auto r = std::make_unique<orlin::RestRequest>();
    r->url = url;
    r->apiKey = "benchmark-key";
    r->onComplete = complete;
    loop.Submit(std::move(r));
  };
  complete = [&](orlin::RestRequest&, const std::string&) {
    std::lock_guard lock(m);
    if (finished) return;
    ++counted;
    const Clock::time_point now = Clock::now();
    if (counted == 0) {
      loopCpuStart = ThreadCpuSeconds();
      wakeStart = ThreadWakeUps();
      processStart = ProcessCpuSeconds();
      wallStart = now;
    }
    if (counted > 0 && (counted >= maxCompletions || now >= wallStart + duration || now >= deadline)) {
      loopCpuEnd = ThreadCpuSeconds();
      wakeEnd = ThreadWakeUps();
      processEnd = ProcessCpuSeconds();
      wallEnd = now;
      finished = true;
      cv.notify_all();
      return;
    }
    submit();
  };
  loop.Start([&] {
    for (int i = 0; i < circulating; ++i) submit();
  });
  {
    std::unique_lock lock(m);
    cv.wait_until(lock, deadline + 5s, [&] { return finished; });
  }
  loop.Stop();
  Run run;
  run.completions = counted;
  run.wallSeconds = std::chrono::duration<double>(wallEnd - wallStart).count();
  run.loopCpuSeconds = loopCpuEnd - loopCpuStart;
  run.processCpuSeconds = processEnd - processStart;
  run.loopWakeUps = wakeEnd - wakeStart;
  return run;
}

void Print(const char* title, const Run& r) {
  std::printf("%s\n", title);
  std::printf("  completions            %ld in %.2f s (%.1f per second)\n", r.completions, r.wallSeconds,
              r.completions / r.wallSeconds);
  std::printf("  loop thread CPU        %.1f us per completed request\n", 1e6 * r.loopCpuSeconds / r.completions);
  std::printf("  loop thread wake-ups   %.2f per completed request\n",
              static_cast<double>(r.loopWakeUps) / r.completions);
  std::printf("  process CPU (+server)  %.1f us per completed request\n",
              1e6 * r.processCpuSeconds / r.completions);
}

}  // namespace

int main(int argc, char** argv) {
  long requests = 20000;
  long seconds = 5;
  int circulating = 9;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (!std::strcmp(argv[i], "--requests")) requests = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--seconds")) seconds = std::atol(argv[i + 1]);
    if (!std::strcmp(argv[i], "--circulating")) circulating = std::atoi(argv[i + 1]);
  }

  orlin::testsupport::HttpTestServer server;
  // About the size of the engine's system status answer.
  std::string body = R"({"alloc":12345678,"connectionServiceStatus":{},"cpuPercent":0.5,"myID":")";
  body += std::string(63, 'A') + "\",\"pathSeparator\":\"/\",\"startTime\":\"2026-12-08T19:00:00Z\",\"padding\":\"";
  body += std::string(700, 'x') + "\"}";
  server.SetDefaultAnswer(orlin::testsupport::ScriptedAnswer::Respond(200, body));
  const std::string url = server.BaseUrl() + "/rest/system/status";

  orlin::RequestLoopOptions unpaced;
  unpaced.completionPacing = 0ms;
  Print("request loop, pacing off (transport cost)",
        Measure(unpaced, url, circulating, requests, std::chrono::seconds(seconds * 4)));

  std::printf("  connections opened     %zu\n", server.ConnectionCount());
  orlin::RequestLoopOptions paced;  // the product's 100 ms
  Print("request loop, pacing 100 ms (the poller's rate)",
        Measure(paced, url, circulating, 1'000'000, std::chrono::seconds(seconds)));
  std::printf("  connections opened     %zu (both runs)\n", server.ConnectionCount());
  return 0;
}
