#!/usr/bin/env bash
# The engine library exports its interface and nothing of its internals.
set -euo pipefail
lib=$1
symbols=$(nm -DC --defined-only "$lib" | grep 'orvale::' || true)
status=0
for fn in LOG_INIT LOG_SET_LEVEL LOG_ADD_CONSOLE_OUT LOG_ADD_VS_DEBUG_OUT LOG_ADD_FILE_OUT SetDebugLogger \
          'MediaRecorder::MediaRecorder' 'MediaRecorder::~MediaRecorder' 'media_drive_s::ToString' \
          'MediaRecorder::Initialize' 'MediaRecorder::Finalize' 'MediaRecorder::GetMediaDrive' \
          'MediaRecorder::GetMediaChannel' 'MediaRecorder::getARB' 'MediaRecorder::RequestBookmark' \
          'MediaRecorder::getRaidChecker' 'MediaRecorder::CreateRecorder' 'MediaRecorder::DeleteChannel' \
          'MediaRecorder::ChangeTrackId' 'MediaRecorder::GetExpectedRetention' \
          'MediaRecorder::CreateArbRecorder' \
          'MediaRecorder::CreateTrackSearcher' 'MediaRecorder::CreateCalendarSearcher' \
          'MediaRecorder::CreateTimelineSearcher' 'MediaRecorder::DeleteTimelineSearcher' \
          'MediaRecorder::CreateForensicSearcher' 'MediaRecorder::DeleteForensicSearcher' \
          'MediaRecorder::CreatePlaybackMedia' 'MediaRecorder::GetPlaybackMedia' \
          'MediaRecorder::DeletePlaybackMedia' 'MediaRecorder::OpenMedia' \
          'MediaRecorder::ControlMedia'; do
  if ! grep -q "orvale::recorder::$fn" <<<"$symbols"; then
    echo "missing export: orvale::recorder::$fn"; status=1
  fi
done
internal=$(grep -E 'orvale::(common|platform)::|MediaRecorderImpl|Concurrent' <<<"$symbols" || true)
if [ -n "$internal" ]; then
  echo "internal symbols exported:"; echo "$internal"; status=1
fi
[ $status -eq 0 ] && echo "exports ok: $(wc -l <<<"$symbols") orvale symbols"
exit $status
