// The interfaces of the objects the engine hands out. The engine owns every
// object behind them; the caller gives each back through the matching delete
// method of MediaRecorder and never deletes one itself.
#pragma once

#include "recorder/api/Export.h"

namespace orvale::recorder {

class OSTREL_API IRecorder {
  protected:
    virtual ~IRecorder() = default;
};

class OSTREL_API IArbRecorder {
  protected:
    virtual ~IArbRecorder() = default;
};

class OSTREL_API PlaybackMedia {
  protected:
    virtual ~PlaybackMedia() = default;
};

class OSTREL_API ICalendarSearcher {
  protected:
    virtual ~ICalendarSearcher() = default;
};

class OSTREL_API ITimelineSearcher {
  protected:
    virtual ~ITimelineSearcher() = default;
};

class OSTREL_API ITrackSearcher {
  protected:
    virtual ~ITrackSearcher() = default;
};

class OSTREL_API IForensicSearcher {
  protected:
    virtual ~IForensicSearcher() = default;
};

}  // namespace orvale::recorder
