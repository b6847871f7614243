// The engine's log lines as the converter's window sees them. The engine
// hands every line of its logging setting to one callback of the host;
// HookEngineLines installs the converter's, and a DriveLineTap collects,
// while it lives, the lines of the engine's drive handling (why a drive was
// left out, or could not be read) for the log box.
//
// The hook is process-wide; taps may live on any thread and the engine may
// log on any thread, so the list of taps and each tap's lines are guarded by
// one mutex, never held while the engine is called.
#pragma once

#include <string>
#include <vector>

namespace orvale::converter {

// A new engine logging setting at `level` whose lines reach the taps. Sinks
// are added to it afterwards as to any setting.
void HookEngineLines(int level);

class DriveLineTap {
  public:
    DriveLineTap();
    ~DriveLineTap();

    DriveLineTap(const DriveLineTap&) = delete;
    DriveLineTap& operator=(const DriveLineTap&) = delete;

    // The lines so far, without the engine's source prefix.
    std::vector<std::string> Lines() const;

    // Called by the hook for every line.
    void Take(unsigned severity, const std::string& text);

  private:
    std::vector<std::string> lines_;
};

}  // namespace orvale::converter
