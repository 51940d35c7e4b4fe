#include "MirrorBuilder.h"

#include "ConsoleLog.h"
#include "EnvironmentSetting.h"
#include "MirrorWrite.h"
#include "Paths.h"
#include "SafeName.h"

#include <QDir>
#include <array>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace folvane {

namespace {
// Deeper nesting than this is no template tree; it is skipped rather than walked.
constexpr int maxDepth = 200;

QString quoted(const std::optional<QString>& text) {
    return text ? QStringLiteral("\"") + *text + u'"' : QStringLiteral("nil");
}

QString describe(const FolderRecord& record, qsizetype children) {
    return QStringLiteral("(name: %1, templateGroupID: %2, isSpecial: %3, paths: %4)")
        .arg(record.name, quoted(record.templateGroupID),
             record.isSpecial ? (*record.isSpecial ? QStringLiteral("true") : QStringLiteral("false"))
                              : QStringLiteral("nil"),
             QString::number(children));
}

bool isPseudoGroupID(const std::optional<QString>& id) {
    return id && (*id == QLatin1String("variables") || *id == QLatin1String("snippets"));
}

// A template's "data" as the records digest it and as it is decoded: its characters in Latin-1, which for
// Base64 text (ASCII) are its bytes as they are, read in place. Other text takes the conversion it always
// took, so its digest stays the same.
QByteArray base64Text(const std::string& text) {
    unsigned char bits = 0;
    for (const char byte : text)
        bits |= static_cast<unsigned char>(byte);
    if (bits < 0x80)
        return QByteArray::fromRawData(text.data(), static_cast<qsizetype>(text.size()));
    return QString::fromStdString(text).toLatin1();
}

// A template's bytes; empty when its text is not Base64. Padded standard text, which the add-on sends, is
// decoded here a group of four characters at a time (Qt's decoder, a character at a time, took a tenth of a
// big site's build); anything else is left to Qt, which decides what is Base64.
QByteArray decodedBase64(const QByteArray& text) {
    static constexpr auto values = [] {
        std::array<quint8, 256> table{};
        table.fill(0xFF);
        const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        for (quint8 value = 0; value < 64; ++value)
            table[static_cast<unsigned char>(alphabet[value])] = value;
        return table;
    }();
    const qsizetype size = text.size();
    if (size % 4 == 0) {
        const auto* in = reinterpret_cast<const unsigned char*>(text.constData());
        const qsizetype padding = size == 0 || in[size - 1] != '=' ? 0 : in[size - 2] == '=' ? 2 : 1;
        QByteArray bytes(size / 4 * 3 - padding, Qt::Uninitialized);
        char* out = bytes.data();
        quint32 bad = 0;
        for (qsizetype at = 0; at < size; at += 4) {
            const bool last = at + 4 == size;
            const quint32 a = values[in[at]], b = values[in[at + 1]];
            const quint32 c = last && padding == 2 ? 0 : values[in[at + 2]];
            const quint32 d = last && padding > 0 ? 0 : values[in[at + 3]];
            bad |= a | b | c | d;
            const quint32 group = a << 18 | b << 12 | c << 6 | d;
            const qsizetype count = last ? 3 - padding : 3;
            for (qsizetype i = 0; i < count; ++i)
                *out++ = static_cast<char>(group >> (16 - 8 * i));
        }
        if (bad < 64)
            return bytes;
    }
    const auto decoded = QByteArray::fromBase64Encoding(text, QByteArray::AbortOnBase64DecodingErrors);
    return decoded ? *decoded : QByteArray();
}

std::optional<QString> textOf(const Json& value) {
    return value.is_string() ? std::optional(QString::fromStdString(value.get_ref<const std::string&>()))
                             : std::nullopt;
}
} // namespace

// Hands items from one thread to another, in order, holding about `budget` bytes of them at most: `push`
// waits while more are held. The giver closes it at its end; the taker may stop it early, after which
// pushes are refused at once.
template <class Item> class HandOff {
public:
    explicit HandOff(qsizetype budget) : budget_(budget) {}

    // `bytes`: about what `item` holds. False when the taker has stopped.
    bool push(Item item, qsizetype bytes) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return held_ < budget_ || stopped_; });
        if (stopped_)
            return false;
        held_ += bytes;
        items_.emplace_back(std::move(item), bytes);
        changed_.notify_all();
        return true;
    }

    // The next item, waiting for it; nothing once the giver has closed and all are taken.
    std::optional<Item> take() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return !items_.empty() || closed_; });
        if (items_.empty())
            return std::nullopt;
        auto [item, bytes] = std::move(items_.front());
        items_.pop_front();
        held_ -= bytes;
        changed_.notify_all();
        return std::move(item);
    }

    void close() { mark(closed_); }
    void stop() { mark(stopped_); }

private:
    void mark(bool& flag) {
        std::lock_guard lock(mutex_);
        flag = true;
        changed_.notify_all();
    }

    const qsizetype budget_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<Item, qsizetype>> items_;
    qsizetype held_ = 0;
    bool closed_ = false, stopped_ = false;
};

// Makes the folders and files of a build, records them and writes them on a thread of its own, in the order
// the walk met them, so that the file system's time overlaps the parse of the rest of the list. The walk
// waits while more than a little text is queued.
class MirrorBuilder::Writer final {
public:
    Writer()
        : thread_([this] {
              while (auto work = queue_.take())
                  (*work)();
          }) {}
    ~Writer() { finish(); }

    // `bytes`: about what `work` holds.
    void add(std::function<void()> work, qsizetype bytes) { queue_.push(std::move(work), bytes); }

    // Returns once all work added is done.
    void finish() {
        queue_.close();
        if (thread_.joinable())
            thread_.join();
    }

private:
    HandOff<std::function<void()>> queue_{512 << 10};
    std::thread thread_;
};

// The walk over one answer, driven by JSON events (from the parser, or from a document). Each value is
// met with what the tree builder does with it, decided by the values around it:
// - the answer's top-level values, and the values of a group's "subfolders", are walked one by one;
// - a walked array's items are walked; a walked object is a group: its "subfolders" are walked below its
//   name, its "files" make its folder and one file per template, any other member is walked in place;
// - walking deeper than `maxDepth` skips the value with a log line.
// Whatever a group's "subfolders" or "files" become depends on its "name", "id" and "is_special"; when
// they come later in the group, the rest of the group is held as values and walked again at its end.
class MirrorBuilder::Walk final : public ListEvents {
public:
    explicit Walk(MirrorBuilder& builder) : builder_(builder) {}
    ~Walk() override {
        if (skippedTemplates_ > 0)
            logLine(QStringLiteral("Skipped %1 templates past the bound of %2")
                        .arg(skippedTemplates_)
                        .arg(builder_.bounds_.templates));
        if (skippedGroups_ > 0)
            logLine(QStringLiteral("Skipped %1 template groups past the bound of %2")
                        .arg(skippedGroups_)
                        .arg(builder_.bounds_.groups));
    }

    // Walks a parsed value as if its events came from the parser. Iterative: a document may nest as
    // deeply as memory allows.
    void replay(Json& root) {
        std::vector<std::pair<Json*, size_t>> open;
        const auto visit = [&](Json& value) {
            switch (value.type()) {
            case Json::value_t::object:
                start_object(value.size());
                open.emplace_back(&value, 0);
                break;
            case Json::value_t::array:
                start_array(value.size());
                open.emplace_back(&value, 0);
                break;
            case Json::value_t::string:
                string(value.get_ref<std::string&>());
                break;
            default:
                take(std::move(value));
                break;
            }
        };
        visit(root);
        while (!open.empty()) {
            auto [container, index] = open.back();
            if (index == container->size()) {
                open.pop_back();
                container->is_object() ? end_object() : end_array();
                continue;
            }
            ++open.back().second;
            if (container->is_object()) {
                auto& member = *(container->get_ref<Json::object_t&>().begin() + static_cast<long>(index));
                std::string name = member.first;
                key(name);
                visit(member.second);
            } else {
                visit((*container)[index]);
            }
        }
    }

    bool null() override { return take(Json()); }
    bool boolean(bool value) override { return take(Json(value)); }
    bool number_integer(number_integer_t value) override { return take(Json(value)); }
    bool number_unsigned(number_unsigned_t value) override { return take(Json(value)); }
    bool number_float(number_float_t value, const string_t&) override { return take(Json(value)); }
    // Copied: the parser's buffer keeps its room for the next string, which a template's text would otherwise
    // grow again from nothing.
    bool string(string_t& value) override { return take(Json(value)); }
    bool binary(binary_t& value) override { return take(Json::binary(std::move(value))); }
    bool start_object(std::size_t) override { return open(Json::object()); }
    bool start_array(std::size_t) override { return open(Json::array()); }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& name) override {
        Frame& top = frames_.back();
        if (top.role == Role::capture)
            top.captureKey = name;
        else if (top.role == Role::group)
            top.key = name;
        return true;
    }

private:
    enum class Role {
        answer,     // before the answer's value
        collection, // its values are walked at `depth`
        group,      // an object being walked at `depth`
        files,      // a group's templates, each held until it is whole
        capture,    // a value held whole; `holder` says for what
        skip,       // a value read past
    };
    struct Frame {
        Role role;
        QString path;
        int depth = 0;
        // collection: the answer itself logs where the tree goes before its first value is walked
        bool isAnswer = false;
        // group
        std::string key;
        bool sawName = false, sawID = false, sawSpecial = false, holding = false, complete = false;
        std::optional<QString> name;
        Json id;
        std::optional<bool> isSpecial;
        std::vector<std::pair<std::string, Json>> held;
        // files
        QString groupID;
        // capture: the bytes its value counts so far; group: those of everything it holds
        qint64 charged = 0;
        // capture
        std::unique_ptr<Json> captured; // its own place: the frame moves when the stack grows
        std::vector<Json*> captureOpen;
        std::string captureKey;
        Role holder = Role::files;
        // skip
        int nesting = 0;
    };

    Frame& push(Role role, QString path = {}, int depth = 0) {
        Frame frame;
        frame.role = role;
        frame.path = std::move(path);
        frame.depth = depth;
        frames_.push_back(std::move(frame));
        return frames_.back();
    }

    bool take(Json scalar) {
        place(&scalar, false);
        return true;
    }
    bool open(Json container) {
        place(&container, true);
        return true;
    }

    // A value begins (a scalar whole, or a container whose contents follow): decide what it is for.
    void place(Json* value, bool container) {
        if (frames_.empty())
            push(Role::answer);
        Frame& top = frames_.back();
        switch (top.role) {
        case Role::skip:
            top.nesting += container;
            return;
        case Role::capture:
            return capture(top, std::move(*value), container);
        case Role::answer:
            if (container)
                push(Role::collection, {}, 1).isAnswer = true;
            return;
        case Role::collection:
            if (top.isAnswer && top.path.isNull()) {
                logLine(QStringLiteral("usedPath: ") + builder_.mirrorFolder());
                top.path = builder_.mirrorFolder();
            }
            return walk(top.path, top.depth, *value, container);
        case Role::group:
            return member(frames_.size() - 1, *value, container);
        case Role::files:
            return hold(Role::files, std::move(*value), container);
        }
    }

    void walk(const QString& path, int depth, const Json& value, bool container) {
        if (depth > maxDepth) {
            logLine(QStringLiteral("Skipping a template list nested too deeply below ") + path);
            if (container)
                push(Role::skip);
            return;
        }
        if (value.is_array())
            push(Role::collection, path, depth + 1);
        else if (value.is_object())
            push(Role::group, path, depth);
    }

    // A member of the group at `index` begins.
    void member(size_t index, Json& value, bool container) {
        Frame& group = frames_[index];
        const std::string& key = group.key;
        if (key == "name") {
            group.sawName = true;
            group.name = textOf(value);
        } else if (key == "id") {
            group.sawID = true;
            group.id = container ? Json() : value;
        } else if (key == "is_special") {
            group.sawSpecial = true;
            group.isSpecial = value.is_boolean() ? std::optional(value.get<bool>()) : std::nullopt;
        }
        if (!group.holding && !group.complete && !knowsEnoughFor(group, key))
            group.holding = true;
        if (group.holding)
            return hold(Role::group, std::move(value), container);

        const QString path = group.path;
        const int depth = group.depth;
        if (group.name && key == "subfolders") {
            logLine(QStringLiteral("Going into subfolders"));
            if (!isSafeComponent(*group.name)) {
                logLine(QStringLiteral("Skipping the subfolders of a group with an unusable name: ") +
                        shownName(*group.name));
                return skipOver(container);
            }
            if (container)
                push(Role::collection, path + u'/' + *group.name, depth + 1);
        } else if (key == "files") {
            const std::optional<QString> groupID = makeGroupFolder(group);
            if (!groupID)
                return skipOver(container);
            const QString folder = path + u'/' + *folderName(group);
            if (container)
                push(Role::files, folder + u'/').groupID = *groupID;
        } else {
            walk(path, depth + 1, value, container);
        }
    }

    // Whether what the member `key` becomes can no longer change with the members still to come.
    bool knowsEnoughFor(const Frame& group, const std::string& key) const {
        if (key == "subfolders")
            return group.sawName;
        if (key != "files" || builder_.site_.cms == CMS::default_)
            return true;
        if (group.sawName && group.sawID && group.sawSpecial)
            return true;
        const std::optional<QString> textID = textOf(group.id);
        return builder_.site_.cms == CMS::wordPress && group.sawName && textID && !isPseudoGroupID(textID);
    }

    std::optional<QString> folderName(const Frame& group) const {
        const std::optional<QString> textID = textOf(group.id);
        if (isPseudoGroupID(textID))
            return group.isSpecial
                       ? (*textID == QLatin1String("snippets") ? QStringLiteral("Partials") : group.name)
                       : std::nullopt;
        return group.name;
    }

    // The folder of a group whose "files" begin; its group id, or nothing when the group is skipped.
    std::optional<QString> makeGroupFolder(const Frame& group) {
        const CMS cms = builder_.site_.cms;
        if (cms == CMS::default_)
            return std::nullopt; // a site whose CMS is not known gets no folders at all
        logLine(QStringLiteral("Creating Folder2"));
        logLine(QStringLiteral("usedPath: ") + group.path);
        const std::optional<QString> textID = textOf(group.id);
        std::optional<QString> name;
        std::optional<QString> groupID;
        std::optional<bool> special;
        if (isPseudoGroupID(textID)) {
            name = folderName(group);
            groupID = textID;
            special = group.isSpecial;
        } else if (cms == CMS::expressionEngine) {
            if (group.id.is_number_integer() && group.isSpecial) {
                name = group.name;
                groupID = QString::number(group.id.get<qint64>());
                special = group.isSpecial;
            }
        } else if (cms == CMS::wordPress && textID) {
            name = group.name;
            groupID = textID;
            special = false;
        }
        if (!name || !groupID) {
            logLine(QStringLiteral("Skipping a template group without the fields it needs below ") +
                    group.path);
            return std::nullopt;
        }
        if (!isSafeComponent(*name)) {
            logLine(QStringLiteral("Skipping a template group with an unusable name: ") + shownName(*name));
            return std::nullopt;
        }
        if (++groups_ > builder_.bounds_.groups) {
            if (skippedGroups_++ == 0)
                logLine(QStringLiteral("The template list holds more than %1 template groups: the rest are "
                                       "skipped")
                            .arg(builder_.bounds_.groups));
            return std::nullopt;
        }
        builder_.writer_->add([&builder = builder_, parent = group.path, name = u'/' + *name, groupID,
                               special] { builder.createFolder(parent, name, groupID, special); },
                              0);
        return groupID;
    }

    void skipOver(bool container) {
        if (container)
            push(Role::skip);
    }

    // Keeps a value whole for its holder: a template of the files below, or a member of the group below.
    void hold(Role holder, Json value, bool container) {
        const ListBounds& bounds = builder_.bounds_;
        if (holder == Role::files && ++templates_ > bounds.templates) {
            if (skippedTemplates_++ == 0)
                logLine(QStringLiteral("The template list holds more than %1 templates: the rest are skipped")
                            .arg(bounds.templates));
            return skipOver(container);
        }
        // A template counts alone; a group counts everything it holds.
        Frame& below = frames_.back();
        const qint64 cost = costOf(value) + (holder == Role::group ? qint64(below.key.size()) : 0);
        if (holder == Role::group)
            below.charged += cost;
        if (!fits(holder, holder == Role::files ? cost : below.charged, container ? 1 : 0)) {
            skippedHeld(holder, below.path);
            return skipOver(container);
        }
        if (!container)
            return held(holder, std::move(value));
        Frame& frame = push(Role::capture);
        frame.holder = holder;
        frame.charged = cost;
        frame.captured = std::make_unique<Json>(std::move(value));
        frame.captureOpen.push_back(frame.captured.get());
    }

    // What a value counts against its holder's bound: its text, and something for the value itself.
    static qint64 costOf(const Json& value) {
        constexpr qint64 perValue = 64;
        return perValue + (value.is_string() ? qint64(value.get_ref<const std::string&>().size()) : 0);
    }

    bool fits(Role holder, qint64 charged, size_t nesting) const {
        const ListBounds& bounds = builder_.bounds_;
        return holder == Role::files
                   ? charged <= bounds.templateBytes && nesting <= size_t(bounds.templateNesting)
                   : charged <= bounds.groupHeldBytes && nesting <= size_t(maxDepth);
    }

    static void skippedHeld(Role holder, const QString& path) {
        logLine((holder == Role::files
                     ? QStringLiteral("Skipping a template too large or nested too deeply in ")
                     : QStringLiteral("Skipping what a template group holds beyond its "
                                      "bound below ")) +
                path);
    }

    void capture(Frame& frame, Json value, bool container) {
        const size_t nesting = frame.captureOpen.size() + (container ? 1 : 0);
        const qint64 cost =
            costOf(value) + (frame.captureOpen.back()->is_object() ? qint64(frame.captureKey.size()) : 0);
        frame.charged += cost;
        Frame& holder = frames_[frames_.size() - 2];
        if (frame.holder == Role::group)
            holder.charged += cost;
        if (!fits(frame.holder, frame.holder == Role::files ? frame.charged : holder.charged, nesting)) {
            skippedHeld(frame.holder, holder.path);
            // The rest of the value is read past: the containers open in it so far, and this one.
            frame.role = Role::skip;
            frame.nesting = static_cast<int>(nesting) - 1;
            frame.captured.reset();
            frame.captureOpen.clear();
            return;
        }
        Json& into = *frame.captureOpen.back();
        Json* added = nullptr;
        if (into.is_object())
            added = &(into[frame.captureKey] = std::move(value));
        else
            added = &into.emplace_back(std::move(value));
        if (container)
            frame.captureOpen.push_back(added);
    }

    void held(Role holder, Json value) {
        Frame& below = frames_.back();
        if (holder == Role::files)
            builder_.createFile(below.path, value, below.groupID);
        else
            below.held.emplace_back(below.key, std::move(value));
    }

    bool close() {
        Frame& top = frames_.back();
        if (top.role == Role::skip && top.nesting > 0) {
            --top.nesting;
            return true;
        }
        if (top.role == Role::capture) {
            top.captureOpen.pop_back();
            if (!top.captureOpen.empty())
                return true;
            Json value = std::move(*top.captured);
            const Role holder = top.holder;
            frames_.pop_back();
            held(holder, std::move(value));
            return true;
        }
        if (top.role == Role::group && top.holding)
            walkHeld(frames_.size() - 1);
        frames_.pop_back();
        return true;
    }

    // The group's end: everything about it is known, so its held members are walked now, in order.
    void walkHeld(size_t index) {
        Frame& group = frames_[index];
        group.holding = false;
        group.complete = true;
        std::vector<std::pair<std::string, Json>> members = std::move(group.held);
        for (auto& [name, value] : members) {
            frames_[index].key = name;
            replay(value);
        }
    }

    MirrorBuilder& builder_;
    std::vector<Frame> frames_;
    qint64 templates_ = 0, groups_ = 0, skippedTemplates_ = 0, skippedGroups_ = 0;
};

// The answer's bytes on their way from `feed` to the walk's thread. The parser reads them straight from the
// chunk at hand; only taking the next chunk waits on the lock.
class MirrorBuilder::Stream final {
public:
    explicit Stream(MirrorBuilder& builder) : walk_(builder) {
        thread_ = std::thread([this] {
            whole_ =
                parseChunks([this](const char*& at, const char*& end) { return takeChunk(at, end); }, walk_);
            chunks_.stop();
        });
    }
    ~Stream() { end(); }

    void add(QByteArrayView chunk) {
        if (!chunk.isEmpty())
            chunks_.push(chunk.toByteArray(), chunk.size());
    }

    bool end() {
        chunks_.close();
        if (thread_.joinable())
            thread_.join();
        return whole_;
    }

private:
    // Replaces the chunk read up with the next one, waiting for it; false at the end of the answer. Out of
    // line, so that reading a byte stays small enough to be inlined into the parser.
    [[gnu::noinline]] bool takeChunk(const char*& at, const char*& end) {
        std::optional<QByteArray> next = chunks_.take();
        if (!next)
            return false;
        current_ = std::move(*next);
        at = current_.constData();
        end = at + current_.size();
        return true;
    }

    Walk walk_;
    HandOff<QByteArray> chunks_{4 << 20};
    QByteArray current_; // on the walk's thread only
    bool whole_ = false;
    std::thread thread_;
};

bool ListEvents::parse_error(std::size_t position, const std::string&,
                             const nlohmann::detail::exception& error) {
    logLine(QStringLiteral("The template list is not valid JSON at byte %1: %2")
                .arg(position)
                .arg(QString::fromUtf8(error.what())));
    return false;
}

ListBounds ListBounds::fromEnvironment() {
    ListBounds bounds;
    bounds.templates = positiveSetting("FOLVANE_LIST_MAX_TEMPLATES").value_or(bounds.templates);
    bounds.groups = positiveSetting("FOLVANE_LIST_MAX_GROUPS").value_or(bounds.groups);
    bounds.templateBytes = positiveSetting("FOLVANE_LIST_MAX_TEMPLATE_BYTES").value_or(bounds.templateBytes);
    return bounds;
}

MirrorBuilder::MirrorBuilder(const QString& basePath, WebsiteInUse& site, ListBounds bounds)
    : mirror_(mirrorFolderPath(basePath, site.cachedFolderName.value_or(QString()))), site_(site),
      bounds_(bounds) {
    logLine(QStringLiteral("..."));
    logLine(QStringLiteral("Checking if cache exists"));
    logLine(basePath);
    if (!paths::makePrivateFolder(basePath) || !paths::makePrivateFolder(basePath + Constants::cache)) {
        logLine(QStringLiteral("Failed to make dir"));
        return;
    }
    // The mirror folder always starts empty; it exists even for an empty list so the volume has a root.
    QDir mirror(mirrorFolder());
    if ((mirror.exists() && !mirror.removeRecursively()) || !paths::makePrivateFolder(mirror.path()))
        logLine(QStringLiteral("Failed to del dir"));
}

MirrorBuilder::~MirrorBuilder() = default;

QString MirrorBuilder::mirrorFolder() const {
    return mirror_;
}

void MirrorBuilder::feed(QByteArrayView chunk) {
    if (!stream_) {
        checkedFolders_.clear();
        writer_ = std::make_unique<Writer>();
        stream_ = std::make_unique<Stream>(*this);
        repair_ = std::make_unique<Utf8Repair>(InvalidText::mark);
    }
    stream_->add(repair_->push(chunk));
}

bool MirrorBuilder::finish() {
    if (!stream_)
        return false;
    stream_->add(repair_->finish());
    const bool whole = stream_->end();
    stream_.reset();
    writer_.reset();
    return whole;
}

void MirrorBuilder::noteRecordedPaths() {
    noting_ = true;
    recorded_.clear();
}

std::set<QString> MirrorBuilder::takeRecordedPaths() {
    noting_ = false;
    keptLocal_.clear();
    return std::exchange(recorded_, {});
}

void MirrorBuilder::noteRecorded(const RecordTree& records, const QString& path) {
    // The records' own copy of the path is kept: a big site's paths are not held twice during a refresh.
    recorded_.insert(records.all().find(path)->first);
}

void MirrorBuilder::keepLocalFiles(std::set<QString> paths) {
    keptLocal_ = std::move(paths);
}

std::map<QString, QByteArray> MirrorBuilder::takeSiteTexts() {
    return std::exchange(siteTexts_, {});
}

void MirrorBuilder::createFolder(const QString& parent, const QString& name,
                                 const std::optional<QString>& templateGroupID,
                                 std::optional<bool> isSpecial) {
    logLine(QStringLiteral("Creating Folder"));
    const QString folder = parent + name; // `name` starts with "/"
    if (!makeMirrorFolder(mirrorFolder(), folder, &checkedFolders_)) {
        logLine(QStringLiteral("Failed to make dir"));
        return;
    }
    logLine(QStringLiteral("Dictionary entry for location ") + folder);
    site_.withRecords([&](RecordTree& records) {
        records.setFolder(folder, FolderRecord{name, templateGroupID, isSpecial});
        if (noting_)
            noteRecorded(records, folder);
        const FolderRecord* parentRecord = records.folder(parent);
        logLine(QStringLiteral("path: ") + parent + QStringLiteral(", dictLookup: ") +
                (parentRecord ? describe(*parentRecord, records.children(parent).size())
                              : QStringLiteral("nil")));
    });
}

void MirrorBuilder::createFile(const QString& folderPath, const Json& entry, const QString& templateGroupID) {
    const QString folder = folderPath.chopped(1);
    const Json* data = member(entry, "data");
    const std::optional<QString> name = stringValue(entry, "name");
    std::optional<QString> templateID;
    if (site_.cms == CMS::expressionEngine) {
        const auto number = integerValue(entry, "id");
        templateID = number ? QString::number(*number) : QString();
    } else if (site_.cms == CMS::wordPress) {
        templateID = stringValue(entry, "id");
    }
    if (!data || !data->is_string() || !name || !templateID)
        return;
    if (!isSafeComponent(*name)) {
        logLine(QStringLiteral("Skipping a template with an unusable name in ") + folder +
                QStringLiteral(": ") + shownName(*name));
        return;
    }
    const QByteArray encoded = base64Text(data->get_ref<const std::string&>());
    QByteArray decoded = decodedBase64(encoded);
    const qsizetype size = decoded.size();
    writer_->add([this, path = folderPath + *name,
                  record = FileRecord{*name, templateGroupID, *templateID, ContentDigest::ofBase64(encoded)},
                  bytes = std::move(decoded)] { placeFile(path, record, bytes); },
                 size);
}

void MirrorBuilder::placeFile(const QString& path, const FileRecord& record, const QByteArray& bytes) {
    site_.withRecords([&](RecordTree& records) {
        records.setFile(path, record);
        if (noting_)
            noteRecorded(records, path);
    });
    if (noting_ && keptLocal_.count(path)) {
        siteTexts_[path] = bytes;
        return;
    }
    writeFile(path, bytes);
}

void MirrorBuilder::writeFile(const QString& path, const QByteArray& bytes) {
    const bool folderMade =
        makeMirrorFolder(mirrorFolder(), path.left(path.lastIndexOf(u'/')), &checkedFolders_);
    // A refresh leaves a file that already holds the site's text alone: no write, no new modification time
    // (and on ext4 no flush at close, which a file truncated to nothing and written again gets).
    if (folderMade && noting_ && mirrorFileHolds(path, bytes))
        return;
    if (!folderMade || !writeMirrorFile(path, bytes))
        logLine(QStringLiteral("Failed to write ") + path);
}

} // namespace folvane
