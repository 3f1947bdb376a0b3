// Prints figures of the request loop: the loop thread's CPU time per
// completed request (pacing off, so the transport itself is measured) and the
// completion rate and CPU cost with the product's 100 ms pacing, with as many
// requests circulating as the status poller keeps (each completion
// re-requests its URL). Last, the machine's floor under that pacing: a
// thread woken every 100 ms that reads one answer and sends one request on a
// kept connection to the same server, without an HTTP library; what the
// paced loop costs above it is libcurl's, libuv's and the loop's own.
//
//   bench_request_loop [--requests N] [--seconds S] [--circulating C]

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
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

// The floor: per 100 ms tick one wake-up, one answer read and one request
// sent, as the paced loop does, with plain system calls; with no request,
// the wake-up alone. Returns the calling thread's CPU per tick in
// microseconds, or a negative value when the server could not be reached or
// did not answer every tick.
double FloorPerTick(std::uint16_t port, const std::string& request, int ticks) {
  const bool exchange = !request.empty();
  const int socket = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (socket < 0 || connect(socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    if (socket >= 0) close(socket);
    return -1;
  }
  int one = 1;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  const int sleeper = epoll_create1(0);  // nothing registered: it only times out
  char answer[16384];
  long answered = 0;
  double start = 0;
  for (int i = 0; i < ticks + 2; ++i) {
    if (i == 2) start = ThreadCpuSeconds();  // one round of warm-up
    epoll_event event{};
    epoll_wait(sleeper, &event, 1, 100);
    if (!exchange) continue;
    if (recv(socket, answer, sizeof answer, MSG_DONTWAIT) > 0) ++answered;
    if (send(socket, request.data(), request.size(), MSG_NOSIGNAL) < 0) break;
  }
  const double cpu = ThreadCpuSeconds() - start;
  close(sleeper);
  close(socket);
  if (exchange && answered < ticks) return -1;
  return 1e6 * cpu / ticks;
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

  const std::string request = "GET /rest/system/status HTTP/1.1\r\nHost: 127.0.0.1:" +
                              std::to_string(server.port()) +
                              "\r\nAccept: */*\r\nX-API-Key: benchmark-key\r\n\r\n";
  const int ticks = static_cast<int>(seconds * 10);
  const double wakeUp = FloorPerTick(server.port(), "", ticks);
  const double floor = FloorPerTick(server.port(), request, ticks);
  std::printf("the machine's floor at that pace (no HTTP library)\n");
  std::printf("  wake-up alone          %.1f us of thread CPU per tick\n", wakeUp);
  if (floor < 0) {
    std::printf("  with the exchange      not measured: the server did not answer every tick\n");
  } else {
    std::printf("  with the exchange      %.1f us per tick (one answer read, one request sent)\n", floor);
  }
  return 0;
}
