// Feeds arbitrary settings files to the GUI settings reader, decoded as
// GuiSettings::load decodes the file, and checks what every result must satisfy.
#include "app/workdir.h"
#include "fuzz_support.h"
#include "gui/gui_settings.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QtGlobal>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {


// Array elements of one key of the settings object, whatever they hold.
int elementCount(const QString &text, const char *key)
{
    return QJsonDocument::fromJson(text.toUtf8()).object().value(QLatin1String(key)).toArray().size();
}

void checkEntries(const GuiSettings &settings)
{
    static const QRegularExpression argbName(QStringLiteral("\\A#[0-9a-f]{8}\\z"));

    for (const CircleSetting &circle : settings.circles) {
        if (circle.color.isValid())
            require(argbName.match(circle.color.name(QColor::HexArgb)).hasMatch());
        require(circle.toText().startsWith(QStringLiteral("Circle '")));
    }
    for (const LabelSetting &label : settings.labels)
        require(label.toText().startsWith(QStringLiteral("Label '")));
    // Lookups return the first label with the id; bounded, the lists may be long.
    for (int i = 0; i < settings.labels.size() && i < 8; ++i) {
        const std::optional<LabelSetting> found = settings.findLabel(settings.labels.at(i).id);
        require(found.has_value() && found->id == settings.labels.at(i).id);
    }
}

} // namespace

// gui_settings.cpp reads the file through readTextFile, whose source file also
// registers the resources and creates the working directory at start; this
// target never reads a file, so that function is replaced by one that stops
// the fuzzer should anything reach it.
QString readTextFile(const QString &)
{
    std::abort();
}

// Qt 5.15's JSON parser leaks the earlier value of a key that an object repeats
// when that value is a non-empty array or object ({"a":[1],"a":2}). QtCore has no
// frame pointers, so the leak's recorded stack ends inside it: the library is the
// only name to match. This target's own code allocates nothing that outlives a run.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libQt5Core.so\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qInstallMessageHandler(dropMessage);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The file's text as readTextFile gives it.
    const QString text = textUpToNul(data, size);

    GuiSettings settings;
    settings.appendFromText(text);
    require(settings.valid);
    require(settings.circles.size() == elementCount(text, "circles"));
    require(settings.labels.size() == elementCount(text, "labels"));
    checkEntries(settings);

    const QString once = settings.toText();
    require(once.startsWith(QStringLiteral("GUI settings:\n")) && once.endsWith(QLatin1Char('\n')));

    // A second reading appends the same entries again.
    GuiSettings twice = settings;
    twice.appendFromText(text);
    require(twice.circles.size() == 2 * settings.circles.size());
    require(twice.labels.size() == 2 * settings.labels.size());
    for (int i = 0; i < settings.circles.size(); ++i)
        require(twice.circles.at(settings.circles.size() + i).toText() == settings.circles.at(i).toText());
    for (int i = 0; i < settings.labels.size(); ++i)
        require(twice.labels.at(settings.labels.size() + i).toText() == settings.labels.at(i).toText());
    return 0;
}
