#pragma once
// Pieces of the device and system handlers (monitor/answer_handlers.h) that
// the tests and the this-device page share. Pure functions.

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace orlin {

// "v1.19.2 ( linuxamd64": version, " ( ", os, then the architecture, with
// "386" written as " 32 ".
std::string VersionText(std::string_view version, std::string_view os, std::string_view arch);

// The instant an engine time ("2026-12-08T18:22:20.123Z",
// "2020-03-01T10:11:12+08:00") stands for. A time without a zone is taken as
// local time, as the engine on the same computer writes it. Nothing for a
// text that is not a time. Seconds since 1970 in 64 bits: the 32-bit Windows
// build has a 32-bit time_t, which would wrap for times past 2038.
std::optional<std::int64_t> EngineTimeToInstant(std::string_view engineTime);

// The rate shown for a measured one. With no traffic while the folder (or
// device) is not complete, the last non-zero rate raised by 1 % to 10 % is
// shown so the label does not flicker to zero between transfers, and a scan
// shows a small made-up figure. A real rate becomes the last non-zero one.
// A folder in error shows 0.
double ShownRate(double measured, double& lastNonZero, double percentComplete, std::string_view folderState);

}  // namespace orlin
