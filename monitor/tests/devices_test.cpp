#include "monitor/devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>

#include "monitor/answer_handlers.h"
#include "monitor/tests/parser_fuzz_fakes.h"

namespace orlin {
namespace {

using testing::Fixture;
using testing::ParserHarness;

constexpr char kPeer[] = "VGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";
constexpr char kSelf[] = "YAW4Z2H-AIDIYSL-3GQGGTZ-XPCTF44-2PS6623-NOI2GZU-Z5ILP2I-UDQKEAD";
constexpr char kFolder[] = "aliceVGOIN6S-EJR3IFB-B3XCKNF-MUYE24S-COOLHIR-MG7FUID-A3IKI4M-XBMKGAC";

std::string Connections(std::uint64_t totalIn, std::uint64_t totalOut, std::uint64_t peerIn, std::uint64_t peerOut,
                        bool paused = false) {
  return "{\"connections\":{\"PEER\":{\"connected\":true,\"paused\":" + std::string(paused ? "true" : "false") +
         ",\"address\":\"10.0.0.2:22000\",\"clientVersion\":\"v1.19.2\",\"inBytesTotal\":" + std::to_string(peerIn) +
         ",\"outBytesTotal\":" + std::to_string(peerOut) + "}},\"total\":{\"inBytesTotal\":" + std::to_string(totalIn) +
         ",\"outBytesTotal\":" + std::to_string(totalOut) + "}}";
}

const DeviceRecord* Find(const std::vector<DeviceRecord>& devices, std::string_view id) {
  for (const DeviceRecord& d : devices) {
    if (FieldText(d.deviceId) == id) return &d;
  }
  return nullptr;
}

TEST(SystemStatusTest, CapturedStatusGivesMemoryCpuAndUptime) {
  ParserHarness h;
  auto started = EngineTimeToInstant("2026-12-08T18:22:20Z");
  ASSERT_TRUE(started);
  h.clock.wall = static_cast<std::time_t>(*started + ((1 * 24 + 2) * 60 + 3) * 60 + 49);
  HandleSystemStatus(h.ctx, ParserHarness::Answer(Fixture("system_status.json")));
  EXPECT_EQ(h.LastLog(), "SystemStatus  获取 CPU 内存 使用率 启动时间");
  SystemSummary summary = h.model.Summary();
  EXPECT_EQ(summary.memory, 48608520u);
  EXPECT_EQ(summary.cpuPercent, 0);
  EXPECT_EQ(summary.uptime.dayOfYear, 1);
  EXPECT_EQ(summary.uptime.hours, 2);
  EXPECT_EQ(summary.uptime.minutes, 3);
  EXPECT_EQ(summary.uptime.seconds, 49);
  EXPECT_EQ(FormatUptime(summary.uptime, true), L"1d 2h 3m ");

  HandleSystemStatus(h.ctx, ParserHarness::Answer("{\"cpuPercent\":12.9,\"sys\":5,\"startTime\":\"2999-01-01T00:00:00Z\"}"));
  summary = h.model.Summary();
  EXPECT_EQ(summary.cpuPercent, 12);  // truncated
  EXPECT_EQ(summary.uptime.totalSeconds, 0);  // a start in the future is no negative uptime
}

TEST(SystemStatusTest, EngineTimesHonourTheirZone) {
  auto utc = EngineTimeToInstant("2020-03-01T02:11:12.123456789Z");
  auto east = EngineTimeToInstant("2020-03-01T10:11:12.5+08:00");
  auto west = EngineTimeToInstant("2020-02-29T21:11:12-05:00");
  ASSERT_TRUE(utc && east && west);
  EXPECT_EQ(*utc, *east);
  EXPECT_EQ(*utc, *west);
  EXPECT_EQ(*utc, 1583028672);
  EXPECT_TRUE(EngineTimeToInstant("2020-03-01T10:11:12"));  // local time
  // Past 2038 too, where a 32-bit time_t would wrap.
  EXPECT_EQ(EngineTimeToInstant("2999-01-01T00:00:00Z"), 32472144000);
  for (const char* bad : {"", "2020-03-01", "2020-13-01T00:00:00Z", "yyyy-mm-ddThh:mm:ssZ", "2020-03-01T10:11:12+8"}) {
    EXPECT_FALSE(EngineTimeToInstant(bad)) << bad;
  }
}

TEST(SystemStatusTest, ConnectedDevicesHaveTheirCompletionRequestedOnce) {
  ParserHarness h;
  HandleConnections(h.ctx, ParserHarness::Answer(Fixture("system_connections.json")));
  h.requests.submitted.clear();
  HandleSystemStatus(h.ctx, ParserHarness::Answer(Fixture("system_status.json")));
  EXPECT_TRUE(h.requests.submitted.empty());  // the folder is not known yet

  h.model.folder.SetFolderId(kFolder);
  HandleSystemStatus(h.ctx, ParserHarness::Answer(Fixture("system_status.json")));
  HandleSystemStatus(h.ctx, ParserHarness::Answer(Fixture("system_status.json")));
  ASSERT_EQ(h.requests.submitted.size(), 1u);  // only the connected peer, and only once
  EXPECT_EQ(h.requests.submitted[0].url, std::string("http://localhost:18384/rest/db/completion?folder=") + kFolder +
                                             "&device=" + kPeer);
}

TEST(SystemVersionTest, VersionTextNamesThirtyTwoBitBuilds) {
  EXPECT_EQ(VersionText("v1.0.0", "windows", "386"), "v1.0.0 ( windows 32 ");
  EXPECT_EQ(VersionText("v1.0.0", "windows", "amd64"), "v1.0.0 ( windowsamd64");

  ParserHarness h;
  HandleSystemVersion(h.ctx, ParserHarness::Answer(Fixture("system_version.json")));
  EXPECT_EQ(h.LastLog(), "SystemVersion 获取版本 ");
  EXPECT_EQ(FieldText(h.model.Summary().versionText), "v1.19.2-ds1 ( linuxamd64");

  HandleSystemVersion(h.ctx, ParserHarness::Answer("{\"version\":\"" + std::string(80, 'v') + "\",\"arch\":\"386\"}"));
  EXPECT_EQ(FieldText(h.model.Summary().versionText), std::string(51, 'v'));
}

TEST(DiscoveryTest, LogsWhatItGot) {
  ParserHarness h;
  HandleDiscovery(h.ctx, ParserHarness::Answer(Fixture("system_discovery.json")));
  EXPECT_EQ(h.LastLog(), "SystemDiscovery 发现新设备");
  HandleDiscovery(h.ctx, ParserHarness::Answer(""));
  EXPECT_EQ(h.LastLog(), "SystemDiscovery 空的json");
}

TEST(ConnectionsTest, NewDevicesAreUnknownUntilTheConfigurationNamesThem) {
  ParserHarness h;
  HandleConnections(h.ctx, ParserHarness::Answer(Fixture("system_connections.json")));
  auto devices = h.model.devices.Snapshot();
  ASSERT_EQ(devices.size(), 2u);
  const DeviceRecord* peer = Find(devices, kPeer);
  const DeviceRecord* self = Find(devices, kSelf);
  ASSERT_TRUE(peer && self);
  EXPECT_EQ(FieldText(peer->name), "unknown");
  EXPECT_EQ(FieldText(peer->address), "127.0.0.1:22002");
  EXPECT_EQ(FieldText(peer->clientVersion), "v1.19.2-ds1");
  EXPECT_EQ(peer->connected, 1);
  EXPECT_EQ(peer->inBytesTotal, 1178u);
  EXPECT_EQ(peer->previousInBytesTotal, 1178u);
  EXPECT_EQ(FieldText(self->address), "-");
  EXPECT_EQ(FieldText(self->clientVersion), "-");
  EXPECT_EQ(self->connected, 0);

  ASSERT_EQ(h.requests.submitted.size(), 1u);  // one configuration fetch for both
  EXPECT_EQ(h.requests.submitted[0].url, "http://localhost:18384/rest/system/config");
  EXPECT_EQ(h.requests.submitted[0].kind, kKindDeviceNames);
  EXPECT_EQ(h.model.folder.lastConfigKind.load(), kKindDeviceNames);

  // Still unnamed on the next answer: asked again.
  HandleConnections(h.ctx, ParserHarness::Answer(Fixture("system_connections.json")));
  EXPECT_EQ(h.requests.submitted.size(), 2u);

  HandleDeviceNames(h.ctx, ParserHarness::Answer(Fixture("system_config.json")));
  EXPECT_EQ(h.LastLog(), "ConfigGetDeviceName  获取设备名称 ID 地址 ");
  devices = h.model.devices.Snapshot();
  EXPECT_EQ(FieldText(Find(devices, kPeer)->name), "Orlin");
  EXPECT_EQ(FieldText(Find(devices, kPeer)->address), "127.0.0.1:22002");  // connected: keeps its live address
  EXPECT_EQ(FieldText(Find(devices, kSelf)->name), "vm");
  EXPECT_EQ(FieldText(Find(devices, kSelf)->address), "dynamic");

  HandleConnections(h.ctx, ParserHarness::Answer(Fixture("system_connections.json")));
  EXPECT_EQ(h.requests.submitted.size(), 2u);  // named now: no more fetches
  EXPECT_EQ(h.model.devices.Size(), 2u);
}

TEST(ConnectionsTest, RatesAreRecomputedOncePerSecondOfStopwatchTime) {
  ParserHarness h;
  h.model.folder.folderPercent = 100;
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(1000, 1000, 1000, 1000)));
  EXPECT_EQ(h.window.Count(kMsgRatesChanged), 0);  // no whole second yet

  h.clock.steady += std::chrono::seconds(2);
  h.model.poll.previousInBytesTotal = 1000;
  h.model.poll.previousOutBytesTotal = 1000;
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(1000 + 4096, 1000 + 2048, 1000 + 2048, 1000)));
  EXPECT_EQ(h.window.Count(kMsgRatesChanged), 1);
  SystemSummary summary = h.model.Summary();
  EXPECT_EQ(summary.downloadText, L"2.00 KiB/s (" + FormatSize(5096) + L")");
  EXPECT_EQ(summary.uploadText, L"1.00 KiB/s (" + FormatSize(3048) + L")");
  EXPECT_EQ(h.model.poll.lastDownloadRate, 2048);
  EXPECT_EQ(h.model.poll.previousInBytesTotal, 5096u);
  const DeviceRecord peer = h.model.devices.Snapshot().at(0);
  EXPECT_EQ(Utf8ToWide(FieldText(peer.downloadText)), L"1.00 KiB/s (" + FormatSize(3048) + L")");
  EXPECT_EQ(FieldText(peer.uploadText), "0 B/s (1000 B)");  // the peer's device completion is 0: smoothed from 0

  // Half a second later nothing is recomputed.
  h.clock.steady += std::chrono::milliseconds(500);
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(9000, 9000, 9000, 9000)));
  EXPECT_EQ(h.window.Count(kMsgRatesChanged), 1);

  // Totals that went backwards (the engine restarted) show no traffic.
  h.clock.steady += std::chrono::seconds(1);
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(10, 10, 10, 10)));
  EXPECT_EQ(h.model.Summary().downloadText, L"0 B/s (10 B)");
}

TEST(ConnectionsTest, IdleTransfersBelowCompletionShowTheLastRateRaisedSlightly) {
  double last = 0;
  EXPECT_EQ(ShownRate(5000, last, 40, "syncing"), 5000);
  EXPECT_EQ(last, 5000);
  double idle = ShownRate(0, last, 40, "syncing");
  EXPECT_GE(idle, 5000 * 1.01);
  EXPECT_LT(idle, 5000 * 1.1);
  EXPECT_EQ(last, 5000);  // the raised figure is not remembered
  EXPECT_EQ(ShownRate(0, last, 100, "idle"), 0);
  EXPECT_EQ(last, 5000);
  double scanning = ShownRate(0, last, 40, "scanning");
  EXPECT_GE(scanning, 10);
  EXPECT_LT(scanning, 100);
  EXPECT_EQ(ShownRate(7000, last, 40, "error"), 0);
  EXPECT_EQ(last, 7000);

  // Through the handler: no new bytes while the folder is at 40 %.
  ParserHarness h;
  h.model.folder.folderPercent = 40;
  h.model.poll.lastDownloadRate = 1024;
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(0, 0, 0, 0)));
  h.clock.steady += std::chrono::seconds(1);
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(0, 0, 0, 0)));
  std::wstring text = h.model.Summary().downloadText;
  EXPECT_EQ(text.substr(text.size() - 6), L" (0 B)");
  EXPECT_NE(text.find(L"KiB/s"), std::wstring::npos) << WideToUtf8(text);  // 1.01 to 1.10 KiB/s
}

TEST(ConnectionsTest, PausedOrDisconnectedDevicesShowNoRates) {
  ParserHarness h;
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(0, 0, 0, 0, true)));
  h.clock.steady += std::chrono::seconds(3);
  HandleConnections(h.ctx, ParserHarness::Answer(Connections(3000, 3000, 3000, 3000, true)));
  const DeviceRecord peer = h.model.devices.Snapshot().at(0);
  EXPECT_EQ(FieldText(peer.downloadText), "-");
  EXPECT_EQ(FieldText(peer.uploadText), "-");
  EXPECT_EQ(peer.paused, 1);
}

TEST(RemoteCompletionTest, TheAnswerReachesTheDeviceItWasAskedFor) {
  ParserHarness h;
  h.model.folder.SetFolderId("f");
  h.model.devices.Replace({DeviceRecord::NewDevice("A"), DeviceRecord::NewDevice("B")});
  const std::string urlB = "http://localhost:18384/rest/db/completion?folder=f&device=B";

  HandleRemoteCompletion(h.ctx, ParserHarness::Answer(Fixture("so_A_db_completion_of_B.json"), urlB));
  EXPECT_EQ(h.LastLog(), "DBCompletion 远程设备完成状态");
  auto devices = h.model.devices.Snapshot();
  EXPECT_EQ(devices[0].globalBytes, 0u);
  EXPECT_EQ(devices[1].globalBytes, 17u);
  EXPECT_EQ(devices[1].completion, 100);

  HandleRemoteCompletion(h.ctx, ParserHarness::Answer(
                                    "{\"globalBytes\":400,\"needBytes\":100,\"needItems\":3,\"needDeletes\":1}", urlB));
  devices = h.model.devices.Snapshot();
  EXPECT_EQ(devices[1].completion, 75);
  EXPECT_EQ(devices[1].needItems, 3u);
  EXPECT_EQ(devices[1].needDeletes, 1u);

  HandleRemoteCompletion(h.ctx, ParserHarness::Answer(
                                    "{\"globalBytes\":null,\"needBytes\":100,\"needItems\":3,\"needDeletes\":0}", urlB));
  devices = h.model.devices.Snapshot();
  EXPECT_EQ(devices[1].completion, 100);  // nothing global: complete, nothing needed
  EXPECT_EQ(devices[1].needBytes, 0u);
  EXPECT_EQ(devices[1].needItems, 0u);

  HandleRemoteCompletion(h.ctx, ParserHarness::Answer("{\"globalBytes\":10,\"needBytes\":50}", urlB));
  EXPECT_EQ(h.model.devices.Snapshot()[1].completion, 0);  // need beyond the global size: not negative

  HandleRemoteCompletion(h.ctx, ParserHarness::Answer("{\"globalBytes\":10,\"needBytes\":5}",
                                                      "http://localhost:18384/rest/db/completion?folder=g&device=B"));
  EXPECT_EQ(h.model.devices.Snapshot()[1].globalBytes, 10u);  // another folder's answer is not this device's
}

TEST(DeviceParsersTest, EmptyBrokenOrWronglyTypedAnswersChangeNothing) {
  ParserHarness h;
  HandleConnections(h.ctx, ParserHarness::Answer(Fixture("system_connections.json")));
  HandleSystemVersion(h.ctx, ParserHarness::Answer(Fixture("system_version.json")));
  const auto devicesBefore = h.model.devices.Snapshot();
  const std::string versionBefore(FieldText(h.model.Summary().versionText));
  const std::size_t requestsBefore = h.requests.submitted.size();

  for (const char* body : {"", "garbage", "[]", "\"text\"", "42", "{\"connections\":", "{\"connections\":[1,2]}",
                           "{\"connections\":\"x\"}", "{\"devices\":{}}", "null"}) {
    HandleSystemStatus(h.ctx, ParserHarness::Answer(body));
    HandleSystemVersion(h.ctx, ParserHarness::Answer(body));
    HandleConnections(h.ctx, ParserHarness::Answer(body));
    EXPECT_EQ(h.LastLog(), "Systemconnetion 空的json") << body;
    HandleDeviceNames(h.ctx, ParserHarness::Answer(body));
    EXPECT_EQ(h.LastLog(), "ConfigGetDeviceName  获取设备 空的json") << body;
    HandleRemoteCompletion(h.ctx, ParserHarness::Answer(body, "http://localhost:18384/rest/db/completion?folder=zzz&device=" +
                                                                  std::string(kPeer)));
  }
  auto messages = h.LogMessages();
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "SystemStatus 空的 json"), 10);
  EXPECT_EQ(std::count(messages.begin(), messages.end(), "SystemVersion 空json"), 10);
  EXPECT_EQ(FieldText(h.model.Summary().versionText), versionBefore);
  EXPECT_EQ(h.requests.submitted.size(), requestsBefore);
  auto devicesAfter = h.model.devices.Snapshot();
  ASSERT_EQ(devicesAfter.size(), devicesBefore.size());
  for (std::size_t i = 0; i < devicesAfter.size(); ++i) {
    EXPECT_EQ(FieldText(devicesAfter[i].name), FieldText(devicesBefore[i].name));
    EXPECT_EQ(FieldText(devicesAfter[i].address), FieldText(devicesBefore[i].address));
    EXPECT_EQ(devicesAfter[i].connected, devicesBefore[i].connected);
    EXPECT_EQ(devicesAfter[i].inBytesTotal, devicesBefore[i].inBytesTotal);
    EXPECT_EQ(devicesAfter[i].completion, devicesBefore[i].completion);
    EXPECT_EQ(devicesAfter[i].globalBytes, devicesBefore[i].globalBytes);
  }

  // Wrongly typed members inside a well-formed answer read as empty or 0.
  HandleConnections(h.ctx, ParserHarness::Answer(
                               "{\"connections\":{\"X\":{\"connected\":\"yes\",\"address\":5,\"inBytesTotal\":\"9\"},"
                               "\"\":{},\"Y\":7}}"));
  const auto withX = h.model.devices.Snapshot();
  const DeviceRecord* x = Find(withX, "X");
  ASSERT_NE(x, nullptr);
  EXPECT_EQ(x->connected, 0);
  EXPECT_EQ(x->inBytesTotal, 0u);
  EXPECT_EQ(FieldText(x->address), "-");
  EXPECT_EQ(h.model.devices.Size(), 3u);
}

}  // namespace
}  // namespace orlin
