#pragma once
// libavcodec reports every damaged frame and every clipped coefficient on standard error; our
// callers handle failures themselves, so the libraries stay quiet unless FARSIGHT_DEBUG is set.

namespace fsv::media {
void quietFfmpegLog();
}
