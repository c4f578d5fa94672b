// The content server that publishes the channel list, the digest and the new
// version. Its host is a build setting (CORVALEN_CONTENT_SERVER, host or host:port).
#pragma once

#ifndef CORVALEN_CONTENT_SERVER
#error "CORVALEN_CONTENT_SERVER must be defined by the build"
#endif

inline constexpr const char* kChannelListUrl = "http://" CORVALEN_CONTENT_SERVER "/corvalen/list.txt";
inline constexpr const char* kDigestUrl = "http://" CORVALEN_CONTENT_SERVER "/corvalen/md5.txt";
inline constexpr const char* kUpdateExeUrl = "http://" CORVALEN_CONTENT_SERVER "/corvalen/update.exe";
