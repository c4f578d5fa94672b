#include "app/update/update_check.h"

#include <windows.h>

#include "app/channels/content_server.h"
#include "app/http/web_request.h"
#include "app/service/tunnel_service.h"
#include "app/update/md5.h"
#include "app/update/updater_image.h"
#include "common/platform.h"

namespace {

Text Quoted(const Text& path) { return ConcatText("\"", path, "\""); }

// Digest of the executable file on disk; the image is released on return.
Text DigestOfFile(const Text& path) { return Md5Text(ReadWholeFile(path), true); }

}  // namespace

UpdateHandOver PlatformHandOver() {
  return {
      .startUpdater = [](const Text& commandLine) { return RunCommand(commandLine, false, kShowNormal); },
      // The own process, not the first one found under the image name: a
      // second copy of the program must not be ended in our place.
      .endOwnProcess = [] { TerminateProcess(GetCurrentProcess(), 0); },
  };
}

Text UpdaterCommandLine(const Text& updaterPath, const Text& updateExeUrl, const Text& ownPath) {
  return ConcatText(Quoted(updaterPath), " ", updateExeUrl, " ", Quoted(ownPath));
}

void CheckForUpdateAt(AppContext& app, const Text& digestUrl, const Text& updateExeUrl,
                      const UpdateHandOver& handOver) {
  CleanUpTunnelService(app);  // the service stops and its folder goes, whatever follows
  const Text ownPath = ConcatText(app.programDir, "\\", app.exeName);
  const Text updaterPath = ConcatText(app.programDir, "\\", kUpdaterFileName);

  const Text localDigest = DigestOfFile(ownPath);
  const Text remoteDigest = BytesToText(WebRequest(digestUrl));
  // Two empty texts (no digest computed, nothing fetched) prove nothing: only a
  // digest that was computed can find the program up to date.
  if (!localDigest.empty() && CompareText(localDigest, remoteDigest) == 0) {
    app.view.ShowMessageBox(kLatestVersionMessage, kBoxFlagsOk);
    return;
  }
  if (app.view.ShowMessageBox(kOfferUpdateMessage, kBoxFlagsYesNo, kOfferUpdateCaption) != kBoxYes) return;

  // The program ends only once the Updater is on its way: an unwritten image
  // or a failed start leaves it running (and never starts an older update.date).
  const Bytes image = LoadUpdaterImage();
  if (image.empty() || !WriteWholeFile(updaterPath, image)) return;
  if (!handOver.startUpdater(UpdaterCommandLine(updaterPath, updateExeUrl, ownPath))) return;
  handOver.endOwnProcess();
}

void CheckForUpdate(AppContext& app) { CheckForUpdateAt(app, kDigestUrl, kUpdateExeUrl, PlatformHandOver()); }
