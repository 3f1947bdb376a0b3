#pragma once
// Operations on the file lists that several answer handlers share.

#include <vector>

#include "monitor/status_model.h"

namespace orlin {

// Adds `row` to the last-synced list (a conflict copy under the name of the
// file it belongs to). A name already listed only takes the new time; a new
// one pushes the oldest row out once the list holds 1000. Takes the list's
// lock; sets its changed flag after releasing it when a row was added.
void InsertLastSynced(StatusModel& model, FileItemRecord row);
// The same for several rows in order, under one hold of the lock.
void InsertLastSynced(StatusModel& model, std::vector<FileItemRecord> rows);

// The order of the unsynced-files rows: among "progress" rows the higher
// percent first, then the file name after its last "\" (as wide text), then
// the smaller size; otherwise by status text, which puts "progress" before
// "queued" before "rest".
bool UnsyncedRowBefore(const FileItemRecord& a, const FileItemRecord& b);

}  // namespace orlin
