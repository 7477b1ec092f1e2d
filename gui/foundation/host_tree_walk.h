// A depth-first walk of a host entry and, when it is a folder, everything
// below it, by the bytes of the names (Linux keeps names as bytes, which need
// not be UTF-8). Each folder is listed once and its entries come in the byte
// order of their names. Entries are looked up through their folder's own
// descriptor, so neither the length of the paths (PATH_MAX) nor the depth of
// the tree (the process's descriptor limit) stops the walk, and the cost of a
// step does not grow with the depth. Symbolic links are followed; a folder
// whose (device, inode) is already on the walk's path (a link back into it, a
// bind mount of it) is reported as a loop and never entered.
#pragma once

#include <sys/stat.h>

#include <QByteArray>
#include <QString>

namespace sorvel {

class HostTreeVisitor {
 public:
  virtual ~HostTreeVisitor() = default;
  // A folder: `path` is its host path, `name` the last part of it, `status`
  // its own status (a link's target's). True enters it: its entries follow,
  // then LeaveFolder. Its entries are empty when its permissions refuse the
  // listing.
  virtual bool EnterFolder(const QByteArray& path, const QByteArray& name, const struct stat& status) = 0;
  virtual void LeaveFolder() = 0;
  // Anything that is not a folder, a link whose target is missing included.
  // `status` is the walk's own stat of it (a link's target's) where it took
  // one, for an entry the listing does not call a regular file; else null.
  virtual void File(const QByteArray& path, const QByteArray& name, const struct stat* status) = 0;
  // A folder already on the walk's path; never entered.
  virtual void Loop(const QByteArray& path, const QByteArray& name) = 0;
  // A folder that could not be read for want of something other than
  // permission (descriptors, memory, a failing device): never entered, so
  // that nothing below it goes missing unseen.
  virtual void Unreadable(const QByteArray& path, const QByteArray& name) = 0;
};

// Walks `path`, whose last part is `name`. An exception that the visitor
// throws ends the walk and leaves nothing open.
void WalkHostTree(const QByteArray& path, const QByteArray& name, HostTreeVisitor& visitor);

// The text of a host name or path given as bytes: UTF-8, else CP932 when all
// of it decodes, else with each byte that decodes as neither shown as "_".
QString HostNameText(const QByteArray& bytes);

}  // namespace sorvel
