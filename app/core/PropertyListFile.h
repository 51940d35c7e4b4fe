#pragma once

#include <QByteArray>
#include <QString>
#include <memory>
#include <plist/plist.h>

namespace folvane {

struct PlistDeleter {
    void operator()(plist_t node) const { plist_free(node); }
};
// Owns a libplist node tree.
using Plist = std::unique_ptr<void, PlistDeleter>;

// One property-list file of the support folder. Saves never leave a half-written file: the new content
// goes to a temporary file that then replaces the old one. A file that has content but cannot be read
// is moved aside under a new name before anything can overwrite it.
class PropertyListFile {
public:
    PropertyListFile(QString folder, const QString& fileName);

    QString folder() const { return folder_; }
    QString path() const { return path_; }
    bool exists() const;
    // Creates the folder, and its missing parents, when it is not there.
    bool createFolder();
    // Before the file's first save: logs `firstStartLine` and creates the folder. Nothing once the file
    // exists.
    bool prepareFirstSave(const QString& firstStartLine);
    // The file's root node; nothing when the file is missing, empty or not a property list (then moved
    // aside, see keptAsidePath()).
    Plist load();
    // The root node of a property list (binary or XML) held in `bytes`; nothing when they are none, or
    // when a text or key in it holds a NUL byte.
    static Plist parse(const QByteArray& bytes);
    // Writes `root` as a binary property list.
    bool save(plist_t root);
    // Moves the file aside under a new name: it holds something this program cannot read.
    void keepAside();

    // Where an unreadable file was moved by load(); empty when none was.
    QString keptAsidePath() const { return keptAsidePath_; }
    // Why the last createFolder(), load() or save() failed.
    QString lastError() const { return lastError_; }

private:
    QString folder_;
    QString path_;
    QString keptAsidePath_;
    QString lastError_;
    bool unreadableInPlace_ = false; // unreadable and could not be moved: a save would destroy it
};

} // namespace folvane
