// The Updater's own download routine on WinINet: one URL into one local file,
// block by block, with the progress bar following.
#pragma once

#include <cstdint>

#include "updater/updater_view.h"

inline constexpr const char* kConnectError = "Internet连接错误!";
inline constexpr const char* kOpenUrlError = "不能打开该URL!";
inline constexpr const char* kOpenLocalFileError = "不能打开本地的文件!";
inline constexpr const char* kReadError = "读文件出错!";
inline constexpr int kDownloadBlockSize = 10240;

// The four request header lines, joined by CR LF, no CR LF after the last.
extern const char* const kDownloadHeaders;

// Fetches url into localName. 0 when the whole body arrived with a 2xx status,
// unencoded, as long as announced, and starting as a Windows executable; -1
// after one of the four messages otherwise.
int DownloadToFile(const Text& url, const Text& localName, UpdaterView& view);

// Moves 进度条1 to received x 100 / announced (0 when nothing was announced).
void ShowDownloadProgress(UpdaterView& view, int32_t announced, int32_t received);

// Milliseconds since the system started, wrapping at 2^32.
int32_t GetTickMs();
