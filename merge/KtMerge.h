#pragma once
// KTMerge: the clip component. One process-wide component, created with the main window and
// destroyed with it. The viewer hands it a paused local file; its dialog lets the user choose the
// first and last frame and writes a new AVI clip of that range. Progress and the end reach the
// viewer through the callback, on any thread: (percent, 0) while writing, (100, 1) when the
// clip is written, (-1, 1) when writing failed.

#include <stdint.h>

#define KT_MERGE_EXPORT __attribute__((visibility("default")))

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*KtMergeCallback)(int32_t value, int32_t state);

// `window`: the main window (a QWidget*), parent of the dialog; may be null. 1 when created.
KT_MERGE_EXPORT int32_t KtMerge_Create(void* window, KtMergeCallback callback);
// No callback comes after it returns.
KT_MERGE_EXPORT int32_t KtMerge_Destroy(void);
// Nonzero while a clip is being written.
KT_MERGE_EXPORT int32_t KtMerge_IsNotEnd(void);
// The credential the files' decoder gets ("id:password").
KT_MERGE_EXPORT int32_t KtMerge_Authority(const char* id, const char* password);
// Nonzero when the file is an AVI file the component can read.
KT_MERGE_EXPORT int32_t KtMerge_AddAVideoFile(const char* path);
// Runs the clip dialog on the calling (user-interface) thread for the file added last; 1 when a
// clip was written, 0 otherwise.
KT_MERGE_EXPORT int32_t KtMerge_DoModal(int32_t reserved);

#ifdef __cplusplus
}
#endif
