// This computer's engine (status, version, rates) and the remote devices
// (connections, names, completion).
//
// Everything here runs on the request loop thread. The device list is
// changed only under its lock and requests are submitted after the lock is
// released; the devices-changed flag is set after the release.

#include "monitor/devices.h"

#include <cJSON.h>
#include <json/json.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "monitor/answer_handlers.h"
#include "monitor/format.h"
#include "monitor/json_read.h"
#include "monitor/parse_memo.h"

namespace orlin {
namespace {

constexpr std::string_view kLogStatus = "SystemStatus  获取 CPU 内存 使用率 启动时间";
constexpr std::string_view kLogStatusEmpty = "SystemStatus 空的 json";
constexpr std::string_view kLogVersion = "SystemVersion 获取版本 ";
constexpr std::string_view kLogVersionEmpty = "SystemVersion 空json";
constexpr std::string_view kLogDiscovery = "SystemDiscovery 发现新设备";
constexpr std::string_view kLogDiscoveryEmpty = "SystemDiscovery 空的json";
constexpr std::string_view kLogConnectionsEmpty = "Systemconnetion 空的json";
constexpr std::string_view kLogDeviceNames = "ConfigGetDeviceName  获取设备名称 ID 地址 ";
constexpr std::string_view kLogDeviceNamesEmpty = "ConfigGetDeviceName  获取设备 空的json";
constexpr std::string_view kLogRemoteCompletion = "DBCompletion 远程设备完成状态";

struct CJsonDeleter {
  void operator()(cJSON* json) const { cJSON_Delete(json); }
};
using CJsonPtr = std::unique_ptr<cJSON, CJsonDeleter>;

// The parsed answer when it is a JSON object; nothing otherwise.
CJsonPtr ParseObject(const std::string& body) {
  if (body.empty()) return nullptr;
  CJsonPtr root(cJSON_ParseWithLength(body.data(), body.size()));
  if (!cJSON_IsObject(root.get())) return nullptr;
  return root;
}

std::string CText(const cJSON* object, const char* key) {
  const cJSON* item = cJSON_GetObjectItem(object, key);
  return cJSON_IsString(item) && item->valuestring != nullptr ? std::string(item->valuestring) : std::string();
}
double CReal(const cJSON* object, const char* key) {
  const cJSON* item = cJSON_GetObjectItem(object, key);
  return cJSON_IsNumber(item) ? item->valuedouble : 0.0;
}
// Byte totals stay exact up to 2^53, far beyond what a connection carries.
std::uint64_t CU64(const cJSON* object, const char* key) { return DoubleToU64(CReal(object, key)); }
std::uint8_t CFlag(const cJSON* object, const char* key) {
  return cJSON_IsTrue(cJSON_GetObjectItem(object, key)) ? 1 : 0;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool ReadDigits(std::string_view text, std::size_t at, std::size_t count, int& out) {
  if (at + count > text.size()) return false;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  out = value;
  return true;
}

std::string CompletionUrl(std::string_view folderId, std::string_view deviceId) {
  return rest::FolderUrl(rest::kDbCompletion, folderId) + "&device=" + rest::PercentEncode(deviceId);
}

double MeasuredRate(std::uint64_t current, std::uint64_t previous, double elapsedSeconds) {
  // Totals start over when the engine restarts; that interval shows no
  // traffic rather than a negative rate.
  if (current < previous) return 0;
  return static_cast<double>(current - previous) / elapsedSeconds;
}

}  // namespace

std::string VersionText(std::string_view version, std::string_view os, std::string_view arch) {
  std::string text(version);
  text += " ( ";
  text += os;
  text += arch == "386" ? std::string_view(" 32 ") : arch;
  return text;
}

std::optional<std::int64_t> EngineTimeToInstant(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 0, 4, year) || text.size() < 19 || text[4] != '-' || !ReadDigits(text, 5, 2, month) ||
      text[7] != '-' || !ReadDigits(text, 8, 2, day) || text[10] != 'T' || !ReadDigits(text, 11, 2, hour) ||
      text[13] != ':' || !ReadDigits(text, 14, 2, minute) || text[16] != ':' || !ReadDigits(text, 17, 2, second)) {
    return std::nullopt;
  }
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) return std::nullopt;

  std::size_t at = 19;
  if (at < text.size() && text[at] == '.') {
    ++at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') ++at;
  }
  std::int64_t fields = DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day)) * 86400 +
                        hour * 3600 + minute * 60 + second;
  if (at < text.size() && (text[at] == 'Z' || text[at] == 'z')) return fields;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    int offsetHours = 0, offsetMinutes = 0;
    if (!ReadDigits(text, at + 1, 2, offsetHours) || at + 3 >= text.size() || text[at + 3] != ':' ||
        !ReadDigits(text, at + 4, 2, offsetMinutes)) {
      return std::nullopt;
    }
    std::int64_t offset = offsetHours * 3600 + offsetMinutes * 60;
    return text[at] == '+' ? fields - offset : fields + offset;
  }
  std::tm local{};
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  std::time_t instant = std::mktime(&local);
  if (instant == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<std::int64_t>(instant);
}

double ShownRate(double measured, double& lastNonZero, double percentComplete, std::string_view folderState) {
  double shown = measured;
  if (measured > -0.000001 && measured < 0.000001) {
    if (percentComplete != 100) {
      // A fixed seed: the raise is the same small step every time.
      std::mt19937 generator(5489);
      if (folderState == "scanning") {
        shown = std::uniform_real_distribution<double>(10.0, 100.0)(generator);
      } else {
        shown = lastNonZero * (1.0 + std::uniform_real_distribution<double>(0.01, 0.1)(generator));
      }
    }
  } else {
    lastNonZero = measured;
  }
  if (folderState == "error") shown = 0;
  return shown;
}

void HandleSystemStatus(MonitorContext& ctx, const PollAnswer& answer) {
  CJsonPtr root = ParseObject(answer.body);
  // An object with none of the figures is not a status answer.
  if (root && !cJSON_IsNumber(cJSON_GetObjectItem(root.get(), "sys")) &&
      !cJSON_IsNumber(cJSON_GetObjectItem(root.get(), "cpuPercent")) &&
      !cJSON_IsString(cJSON_GetObjectItem(root.get(), "startTime"))) {
    root.reset();
  }
  if (!root) {
    ctx.log.Write(kLogStatusEmpty);
    return;
  }
  ctx.log.Write(kLogStatus);

  double cpu = CReal(root.get(), "cpuPercent");
  std::int32_t cpuPercent = std::isfinite(cpu) && cpu > -1e9 && cpu < 1e9 ? static_cast<std::int32_t>(cpu) : 0;
  std::uint64_t memory = CU64(root.get(), "sys");
  const std::string startTime = CText(root.get(), "startTime");
  std::optional<std::int64_t> started = EngineTimeToInstant(startTime);
  std::time_t now = ctx.clock.WallNow();
  ctx.model.UpdateSummary([&](SystemSummary& summary) {
    summary.cpuPercent = cpuPercent;
    summary.memory = memory;
    if (started) {
      // A start time ahead of this computer's clock counts as just started.
      std::int64_t seconds = static_cast<std::int64_t>(now) - *started;
      summary.uptime = BreakDownDuration(std::max<std::int64_t>(seconds, 0));
    }
  });

  // A new start time is a new engine run (a crash, or a restart the engine
  // made itself), whose event ids begin at 1 again: under the old cursor
  // the disk feed would stay silent until the new ids passed it.
  PollState& poll = ctx.model.poll;
  if (!startTime.empty()) {
    if (!poll.engineStartTime.empty() && poll.engineStartTime != startTime) StartEventFeedsOver(ctx);
    poll.engineStartTime = startTime;
  }

  // Each connected device's completion is asked for once; later figures come
  // from the completion events.
  std::string folderId = ctx.model.folder.FolderId();
  if (folderId.empty()) return;
  std::vector<std::string> urls;
  ctx.model.devices.Locked([&](std::deque<DeviceRecord>& devices) {
    for (DeviceRecord& device : devices) {
      if (device.connected == 0 || device.completionRequested != 0) continue;
      urls.push_back(CompletionUrl(folderId, FieldText(device.deviceId)));
      device.completionRequested = 1;
    }
  });
  for (std::string& url : urls) ctx.Get(std::move(url));
}

void HandleSystemVersion(MonitorContext& ctx, const PollAnswer& answer) {
  const cJSON* root = MemosOf(ctx).systemVersion.Parse(answer.body);
  if (!cJSON_IsObject(root) || !cJSON_IsString(cJSON_GetObjectItem(root, "version"))) {
    ctx.log.Write(kLogVersionEmpty);
    return;
  }
  ctx.log.Write(kLogVersion);
  std::string text = VersionText(CText(root, "version"), CText(root, "os"), CText(root, "arch"));
  ctx.model.UpdateSummary([&](SystemSummary& summary) { SetField(summary.versionText, text); });
}

void HandleDiscovery(MonitorContext& ctx, const PollAnswer& answer) {
  const cJSON* root = MemosOf(ctx).discovery.Parse(answer.body);
  ctx.log.Write(cJSON_IsObject(root) ? kLogDiscovery : kLogDiscoveryEmpty);
}

void HandleConnections(MonitorContext& ctx, const PollAnswer& answer) {
  CJsonPtr root = ParseObject(answer.body);
  const cJSON* connections = root ? cJSON_GetObjectItem(root.get(), "connections") : nullptr;
  if (!cJSON_IsObject(connections)) {
    ctx.log.Write(kLogConnectionsEmpty);
    return;
  }

  bool fetchNames = false;
  ctx.model.devices.Locked([&](std::deque<DeviceRecord>& devices) {
    const cJSON* connection = nullptr;
    cJSON_ArrayForEach(connection, connections) {
      if (connection->string == nullptr || connection->string[0] == '\0' || !cJSON_IsObject(connection)) continue;
      DeviceRecord probe;
      SetField(probe.deviceId, connection->string);
      auto it = std::find_if(devices.begin(), devices.end(), [&](const DeviceRecord& row) {
        return FieldText(row.deviceId) == FieldText(probe.deviceId);
      });
      std::string address = CText(connection, "address");
      std::string clientVersion = CText(connection, "clientVersion");
      if (it == devices.end()) {
        DeviceRecord record = DeviceRecord::NewDevice(connection->string);
        record.connected = CFlag(connection, "connected");
        record.paused = CFlag(connection, "paused");
        if (!address.empty()) SetField(record.address, address);
        if (!clientVersion.empty()) SetField(record.clientVersion, clientVersion);
        record.inBytesTotal = record.previousInBytesTotal = CU64(connection, "inBytesTotal");
        record.outBytesTotal = record.previousOutBytesTotal = CU64(connection, "outBytesTotal");
        devices.push_back(record);
        fetchNames = true;  // to learn its name
        continue;
      }
      DeviceRecord& record = *it;
      if (!address.empty()) SetField(record.address, address);
      record.connected = CFlag(connection, "connected");
      record.paused = CFlag(connection, "paused");
      // A device that never connected reports no version; keep "-".
      if (!clientVersion.empty()) SetField(record.clientVersion, clientVersion);
      record.inBytesTotal = CU64(connection, "inBytesTotal");
      record.outBytesTotal = CU64(connection, "outBytesTotal");
      std::string_view name = FieldText(record.name);
      if (name.empty() || name == "unknown") fetchNames = true;
    }
  });
  ctx.model.devices.MarkChanged();
  // One configuration fetch names every device this answer brought.
  if (fetchNames) ctx.FetchConfig(kKindDeviceNames);

  auto now = ctx.clock.SteadyNow();
  auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - ctx.rateStopwatch).count();
  if (elapsed < 1) return;
  const double seconds = static_cast<double>(elapsed);
  ctx.rateStopwatch = now;

  PollState& poll = ctx.model.poll;
  poll.lastElapsedSeconds = seconds;
  const cJSON* total = cJSON_GetObjectItem(root.get(), "total");
  poll.inBytesTotal = CU64(total, "inBytesTotal");
  poll.outBytesTotal = CU64(total, "outBytesTotal");
  const std::string state = ctx.model.folder.FolderStateText();
  const double folderPercent = ctx.model.folder.folderPercent.load();
  double download = ShownRate(MeasuredRate(poll.inBytesTotal, poll.previousInBytesTotal, seconds),
                              poll.lastDownloadRate, folderPercent, state);
  double upload = ShownRate(MeasuredRate(poll.outBytesTotal, poll.previousOutBytesTotal, seconds),
                            poll.lastUploadRate, folderPercent, state);
  std::wstring downloadText = FormatRateAndTotal(download, poll.inBytesTotal);
  std::wstring uploadText = FormatRateAndTotal(upload, poll.outBytesTotal);
  poll.previousInBytesTotal = poll.inBytesTotal;
  poll.previousOutBytesTotal = poll.outBytesTotal;
  ctx.model.UpdateSummary([&](SystemSummary& summary) {
    summary.downloadText = downloadText;
    summary.uploadText = uploadText;
  });

  ctx.model.devices.Locked([&](std::deque<DeviceRecord>& devices) {
    for (DeviceRecord& device : devices) {
      if (device.connected == 0 || device.paused != 0) {
        SetField(device.uploadText, "-");
        SetField(device.downloadText, "-");
        continue;
      }
      double deviceDownload = ShownRate(MeasuredRate(device.inBytesTotal, device.previousInBytesTotal, seconds),
                                        device.lastDownloadRate, device.completion, state);
      double deviceUpload = ShownRate(MeasuredRate(device.outBytesTotal, device.previousOutBytesTotal, seconds),
                                      device.lastUploadRate, device.completion, state);
      SetField(device.downloadText, WideToUtf8(FormatRateAndTotal(deviceDownload, device.inBytesTotal)));
      SetField(device.uploadText, WideToUtf8(FormatRateAndTotal(deviceUpload, device.outBytesTotal)));
      device.previousInBytesTotal = device.inBytesTotal;
      device.previousOutBytesTotal = device.outBytesTotal;
    }
  });
  ctx.model.devices.MarkChanged();
  ctx.Post(kMsgRatesChanged);
}

void HandleDeviceNames(MonitorContext& ctx, const PollAnswer& answer) {
  CJsonPtr root = ParseObject(answer.body);
  const cJSON* devices = root ? cJSON_GetObjectItem(root.get(), "devices") : nullptr;
  if (!cJSON_IsArray(devices)) {
    ctx.log.Write(kLogDeviceNamesEmpty);
    return;
  }
  ctx.log.Write(kLogDeviceNames);

  bool changed = false;
  ctx.model.devices.Locked([&](std::deque<DeviceRecord>& records) {
    const cJSON* device = nullptr;
    cJSON_ArrayForEach(device, devices) {
      if (!cJSON_IsObject(device)) continue;
      std::string id = CText(device, "deviceID");
      if (id.empty()) continue;
      DeviceRecord probe;
      SetField(probe.deviceId, id);
      for (DeviceRecord& record : records) {
        if (FieldText(record.deviceId) != FieldText(probe.deviceId)) continue;
        SetField(record.name, CText(device, "name"));
        const cJSON* addresses = cJSON_GetObjectItem(device, "addresses");
        const cJSON* first = cJSON_IsArray(addresses) ? cJSON_GetArrayItem(addresses, 0) : nullptr;
        if (record.connected == 0 && cJSON_IsString(first) && first->valuestring != nullptr) {
          SetField(record.address, first->valuestring);
        }
        changed = true;
      }
    }
  });
  if (changed) ctx.model.devices.MarkChanged();
}

void HandleRemoteCompletion(MonitorContext& ctx, const PollAnswer& answer) {
  if (answer.body.empty()) return;
  Json::Value root;
  if (!json::Parse(answer.body, root) || !root.isObject()) return;
  ctx.log.Write(kLogRemoteCompletion);

  // null, negative or not a number reads as 0
  auto u64 = [&](const char* key) { return json::U64(json::Member(root, key)); };
  const std::uint64_t globalBytes = u64("globalBytes");
  const std::uint64_t needBytes = u64("needBytes");
  const std::uint64_t needDeletes = u64("needDeletes");
  const std::uint64_t needItems = u64("needItems");

  const std::string& url = answer.effectiveUrl.empty() ? answer.request.url : answer.effectiveUrl;
  const std::string folderId = ctx.model.folder.FolderId();
  bool changed = false;
  ctx.model.devices.Locked([&](std::deque<DeviceRecord>& devices) {
    for (DeviceRecord& device : devices) {
      if (CompletionUrl(folderId, FieldText(device.deviceId)) != url) continue;
      device.globalBytes = globalBytes;
      device.needBytes = needBytes;
      device.needDeletes = needDeletes;
      device.needItems = needItems;
      if (globalBytes != 0) {
        // Need can run ahead of the global size while an index updates.
        device.completion = std::clamp(RemoteCompletion(needBytes, globalBytes), 0.0, 100.0);
      } else {
        device.completion = 100;
        device.needBytes = 0;
        device.needItems = 0;
      }
      changed = true;
    }
  });
  if (changed) ctx.model.devices.MarkChanged();
}

}  // namespace orlin
