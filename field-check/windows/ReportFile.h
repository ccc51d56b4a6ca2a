#pragma once

#include <string>

namespace argb::fieldcheck {

// Writes `text` as a new file at `path`. The check runs elevated and its folder is often one the
// user can write to (Downloads), so nothing found at the name is opened or followed: the report is
// created new beside it (CREATE_NEW, a reparse point not followed), written, and renamed through
// its own handle over whatever is at the name, which replaces a file, a hard link or a symbolic
// link itself and never writes to or deletes what a link points to. Anything planted in the way
// makes the write fail rather than go elsewhere.
bool writeReportFile(const std::wstring& path, const std::string& text);

}  // namespace argb::fieldcheck
