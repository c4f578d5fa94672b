// Unpacking of a ZIP archive file into a folder (minizip over zlib).
#pragma once

#include "common/text.h"

// Unpacks every entry of the archive at zipPath into targetDir (created with
// its missing parents). 1: all entries written. -1: an empty argument, or no
// archive file at zipPath. 0: any other failure - the target folder cannot be
// created, the file does not begin with a ZIP local-file header naming a file,
// the archive cannot be opened, an entry cannot be written or fails its CRC
// check, or an entry's name would land outside targetDir (see
// ZipEntryOutputPath). All names are checked before anything is written, so a
// hostile archive writes nothing at all; after a failure in a later entry the
// entries written before it stay on disk.
int ExtractZip(const Text& zipPath, const Text& targetDir);

// Creates path and every missing parent folder ("\" separated); true when the
// folder exists afterwards.
bool CreateDirTree(const Text& path);
