// Whether an open or a test of a path may be led somewhere else by a symbolic link.
#pragma once

namespace platform {

enum class LinkPolicy {
  // Links are followed as the system follows them. For what the catalogue names: an executable may
  // well be reached through one (a Wine prefix is full of them).
  Follow,
  // For the program's own files: the file itself and the folder that holds it are taken as they
  // are. When either is a symbolic link (on Windows any reparse point: a link, a junction, a mount
  // point), the call fails and the link and whatever it leads to are left untouched. On Linux no
  // folder above them may be a link either; the program's own folder is known with its links
  // resolved.
  Refuse,
};

}  // namespace platform
