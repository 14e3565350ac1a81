/* psrl: report of finished game sessions for a host application.
 *
 * The library has one entry point. Each call reads the finished sessions from the
 * session store beside the library, writes one line per game and user into `buffer`
 * (converted into `codePage`), and deletes the sessions whose line was delivered.
 */
#ifndef PSRL_H
#define PSRL_H

#include <stdint.h>

#if defined(_WIN32)
#define PSRL_CALL __cdecl
#if defined(PSRL_BUILDING_LIBRARY)
#define PSRL_API __declspec(dllexport)
#else
#define PSRL_API __declspec(dllimport)
#endif
#else
#define PSRL_CALL
#if defined(PSRL_BUILDING_LIBRARY)
#define PSRL_API __attribute__((visibility("default")))
#else
#define PSRL_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Writes the report lines into `buffer` (at most `bufferSize` bytes, the last line
 * followed by one zero byte) and stores their byte count, without the zero byte,
 * through `written` when it is not null. Sessions whose user id is 0 are reported
 * under `defaultUserId`.
 *
 * Returns the number of bytes that the lines which did not fit would need, each with
 * its zero byte; 0 when everything fit, when there was nothing to report, or when
 * reporting is switched off. A null `buffer` counts as a buffer of 0 bytes. */
PSRL_API int32_t PSRL_CALL GetPSR(char* buffer, int32_t bufferSize, int32_t* written,
                                  uint32_t codePage, int32_t defaultUserId);

/* The type of GetPSR, for hosts that look it up at run time. */
typedef int32_t(PSRL_CALL* GetPSRFunction)(char* buffer, int32_t bufferSize, int32_t* written,
                                           uint32_t codePage, int32_t defaultUserId);

#ifdef __cplusplus
}
#endif

#endif /* PSRL_H */
