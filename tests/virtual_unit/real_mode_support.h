#pragma once
// Support for running the whole tool in real mode against virtual units: an
// older firmware image, a bus that can be swapped in one step, and observers
// of the in-process tool (its machines, its window and its log).

#include "virtual_bus.h"

#include "app/application_wiring.h"
#include "app/workdir.h"
#include "control/sm_a.h"
#include "control/sm_b.h"
#include "device/fw_info.h"
#include "gui/gui_settings.h"
#include "support/log_capture.h"

#include <QAbstractState>
#include <QDir>
#include <QFile>
#include <QObject>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <unistd.h>

namespace realmode {

inline const QString model = QStringLiteral("Arc-31");
inline const QString olderRevision = QStringLiteral("2.3.9");

// The image with the revision field of its firmware-information block
// replaced; empty when the image has no block or the text does not fit.
inline QByteArray imageWithRevision(const QByteArray &image, const QByteArray &revision)
{
    static const QByteArray startMarker("\x12\x47\x23\x01", 4);
    constexpr int revisionOffset = 40;
    constexpr int fieldSize = 32;
    const int block = image.indexOf(startMarker);
    if (block < 0 || revision.size() >= fieldSize || block + revisionOffset + fieldSize > image.size())
        return {};
    QByteArray changed = image;
    QByteArray field = revision;
    field.append(QByteArray(fieldSize - revision.size(), '\0'));
    changed.replace(block + revisionOffset, fieldSize, field);
    return changed;
}

inline QString desiredRevision()
{
    return parseFwInfo(firmwareImage()).revision;
}

// Writes the older image into the bus's work directory; its path, or empty.
inline QString writeOlderImage(const VirtualBus &bus)
{
    const QByteArray older = imageWithRevision(firmwareImage(), olderRevision.toUtf8());
    const FwInfo info = parseFwInfo(older);
    if (!info.valid || info.revision != olderRevision
        || !bus.writeWorkFile(QStringLiteral("older.bin"), older))
        return {};
    return bus.workFile(QStringLiteral("older.bin"));
}

// Options of a healthy Arc-31 unit holding the given image, quick to work with.
inline QStringList arc31Options(const QString &serial, const QString &image)
{
    return {QStringLiteral("--serial"), serial, QStringLiteral("--firmware"), image,
            QStringLiteral("--otp-type"), QStringLiteral("4"), QStringLiteral("--timing"), QStringLiteral("fast"),
            QStringLiteral("--return-delay"), QStringLiteral("500")};
}

// The path VIRTUAL_DFU_UNITS names: a symbolic link that is pointed at another
// directory of units in one step (rename), so that a set of units appears or
// goes at once for every dfu-util run.
class BusSwitch
{
public:
    BusSwitch() { pointTo(m_root.filePath(QStringLiteral("empty"))); }

    bool isValid() const { return m_root.isValid() && QFileInfo(path()).isDir(); }
    QString path() const { return m_root.filePath(QStringLiteral("bus")); }

    bool pointTo(const QString &directory)
    {
        if (!QDir().mkpath(directory))
            return false;
        const QString fresh = m_root.filePath(QStringLiteral("bus.next"));
        QFile::remove(fresh);
        return QFile::link(directory, fresh)
            && ::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(path()).constData()) == 0;
    }
    bool pointToEmpty() { return pointTo(m_root.filePath(QStringLiteral("empty"))); }

private:
    QTemporaryDir m_root;
};

inline QString statusText(const QString &id)
{
    return guiContext().settings.labelText(id);
}

inline QString noDeviceText()
{
    return statusText(QStringLiteral("status_noDev"));
}

inline QString revisionText(const QString &revision)
{
    return statusText(QStringLiteral("status_devRev")).arg(model, revision);
}

inline QString unknownRevisionText()
{
    return statusText(QStringLiteral("status_devRevUnknown")).arg(model);
}

inline QString currentState()
{
    const QSet<QAbstractState *> states = smB->configuration();
    return states.isEmpty() ? QString() : (*states.begin())->objectName();
}

inline QString enteredLine(const char *state)
{
    return QStringLiteral("\"SM_B: entered %1\"").arg(QLatin1String(state));
}

constexpr const char *stateB1 = "B1: No (DFU-SE) dev. conn.";
constexpr const char *stateB2 = "B2: Conn. to (DFU-SE) dev. with diff. FW rev.";
constexpr const char *stateB3 = "B3: Upgrading FW";
constexpr const char *stateB4 = "B4: Uploading and verifying FW";
constexpr const char *stateB6 = "B6: FW in dev. matches";
constexpr const char *stateB7 = "B7: FW in dev. differs";

// SM_A's states in the order the GUI thread learns of them ("A0" to "A7").
class DeviceLoopTrail : public QObject
{
public:
    DeviceLoopTrail()
    {
        const struct {
            void (SM_A::*signal)();
            const char *name;
        } entries[] = {
            {&SM_A::sig_A0_entered, "A0"}, {&SM_A::sig_A1_entered, "A1"}, {&SM_A::sig_A2_entered, "A2"},
            {&SM_A::sig_readingInfo, "A3"}, {&SM_A::sig_A4_entered, "A4"}, {&SM_A::sig_A5_entered, "A5"},
            {&SM_A::sig_A6_entered, "A6"}, {&SM_A::sig_A7_entered, "A7"},
        };
        for (const auto &entry : entries) {
            const QString name = QLatin1String(entry.name);
            // Queued: the trail is only touched in the GUI thread.
            connect(smA, entry.signal, this, [this, name] { m_states << name; });
        }
    }

    int mark() const { return m_states.size(); }
    QStringList since(int mark) const { return m_states.mid(mark); }
    int countSince(int mark, const QString &state) const { return since(mark).count(state); }

private:
    QStringList m_states;
};

// Log lines of one kind from a point on.
class LogTrail
{
public:
    explicit LogTrail(const LogCapture &capture) : m_capture(capture) {}

    int mark() const { return m_capture.texts().size(); }
    QStringList since(int mark) const { return m_capture.texts().mid(mark); }
    QStringList enteredStatesSince(int mark) const
    {
        return since(mark).filter(QRegularExpression(QStringLiteral("^\"SM_B: entered ")));
    }
    bool hasLineStartingWith(int mark, const QString &start) const
    {
        const QStringList lines = since(mark);
        return std::any_of(lines.begin(), lines.end(), [&](const QString &line) { return line.startsWith(start); });
    }
    void dumpToStandardError() const
    {
        for (const QString &line : m_capture.texts())
            std::fprintf(stderr, "  | %s\n", qPrintable(line));
    }

private:
    const LogCapture &m_capture;
};

inline QString quotedList(const QStringList &items)
{
    QStringList quoted;
    for (const QString &item : items)
        quoted << QLatin1Char('"') + item + QLatin1Char('"');
    return QLatin1Char('(') + quoted.join(QStringLiteral(", ")) + QLatin1Char(')');
}

// The runner's line for a dfu-util run with these arguments.
inline QString startLine(const QStringList &arguments)
{
    return QStringLiteral("Start  \"%1\" %2").arg(dfuUtilExecutablePath(), quotedList(arguments));
}

// Sets what the tool's dfu-util children need, before the application exists.
inline void prepareRealModeEnvironment(const QString &busPath)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_FONT_DPI", "96");
    QByteArray libraryPath(VIRTUAL_UNIT_LIBRARY_DIR);
    if (!qgetenv("LD_LIBRARY_PATH").isEmpty())
        libraryPath += ':' + qgetenv("LD_LIBRARY_PATH");
    qputenv("LD_LIBRARY_PATH", libraryPath);
    qputenv("VIRTUAL_DFU_UNITS", QFile::encodeName(busPath));
}

} // namespace realmode
