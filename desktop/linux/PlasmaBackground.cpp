#include "desktop/linux/PlasmaBackground.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QFile>
#include <QStringList>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <map>

#include "base/AppError.h"
#include "desktop/linux/SettingsRoad.h"
#include "desktop/linux/BusCall.h"

namespace tarnwick {

namespace {

const QString kService = QStringLiteral("org.kde.plasmashell");
const QString kObject = QStringLiteral("/PlasmaShell");
const QString kInterface = QStringLiteral("org.kde.PlasmaShell");
// Plasma runs the script at once; a busy shell may take a while to come to it.
constexpr std::chrono::seconds kScriptTimeout{30};

// What the scripts share: the image wallpaper's settings group, selected on desktop d.
const QString kImageGroup = QStringLiteral("d.currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];\n");

// One desktop's wallpaper as it was: its plugin, and the image wallpaper's picture and fill mode
// (empty where Plasma's default stands).
struct Saved {
    int id = 0;
    QString plugin;
    QString image;
    QString fillMode;
};

class PlasmaBackground : public SettingsRoad {
public:
    explicit PlasmaBackground(QDBusConnection bus) : bus_(std::move(bus)) {}

    std::string Name() const override { return "KDE Plasma's desktop scripting (org.kde.plasmashell)"; }

    // Ours where any desktop's image wallpaper shows one of our pictures. Saved: a JSON array,
    // for every desktop its id, wallpaper plugin, and the image wallpaper's picture and fill mode.
    DesktopShows Shows(const IOurPictures& ours) override
    {
        const std::string context = "Cannot read the desktop background through " + Name() + ".";
        const std::string saved = ReadDesktops(context);
        DesktopShows shows{DesktopShows::Whose::theirs, saved};
        for (const Saved& desktop : Parse(saved, context))
            if (ShowsOurs(desktop, ours))
                shows.whose = DesktopShows::Whose::ours;
        return shows;
    }

    // Every desktop that shows one of our pictures gets its own wallpaper back (the plain picture
    // where none was kept for it); the others are left as they are.
    void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours) override
    {
        const std::string context = "Cannot put back the desktop background through " + Name() + ".";
        std::map<int, Saved> kept;
        if (!saved.empty())
            for (const Saved& desktop : Parse(saved, context))
                kept[desktop.id] = desktop;
        const Saved plain{0, QStringLiteral("org.kde.image"), QString::fromStdString(plainPicture.FileUri()),
                          QStringLiteral("0")};
        QString script = QStringLiteral("var give = {};\n");
        int giving = 0;
        for (const Saved& now : Parse(ReadDesktops(context), context)) {
            if (!ShowsOurs(now, ours))
                continue;
            const auto found = kept.find(now.id);
            const Saved& desktop = found != kept.end() ? found->second : plain;
            script += QStringLiteral("give[%1] = {plugin: %2, image: %3, fillMode: %4};\n")
                          .arg(now.id)
                          .arg(JavaScriptString(desktop.plugin), JavaScriptString(desktop.image),
                               JavaScriptString(desktop.fillMode));
            ++giving;
        }
        if (giving == 0)
            return;
        script += QStringLiteral("var ds = desktops();\n"
                                 "var done = 0;\n"
                                 "for (var i = 0; i < ds.length; ++i) {\n"
                                 "  var d = ds[i];\n"
                                 "  if (!give.hasOwnProperty(d.id))\n"
                                 "    continue;\n"
                                 "  var s = give[d.id];\n"
                                 "  d.wallpaperPlugin = s.plugin;\n") +
                  kImageGroup +
                  QStringLiteral("  d.writeConfig(\"Image\", s.image);\n"
                                 "  d.writeConfig(\"FillMode\", s.fillMode);\n"
                                 "  if (d.wallpaperPlugin == s.plugin && String(d.readConfig(\"Image\")) == s.image)\n"
                                 "    ++done;\n"
                                 "}\n"
                                 "print(done + \"/\" + %1);\n")
                      .arg(giving);
        ExpectAll(Evaluate(script, context), context);
    }

private:
    // Every desktop shows the picture, stretched to fill it (it is drawn at the screen's size).
    void Show(const FilePath& picture, const std::string& context) override
    {
        const QString url = QString::fromStdString(picture.FileUri());
        const QString script = QStringLiteral("var url = %1;\n"
                                              "var ds = desktops();\n"
                                              "var done = 0;\n"
                                              "for (var i = 0; i < ds.length; ++i) {\n"
                                              "  var d = ds[i];\n"
                                              "  d.wallpaperPlugin = \"org.kde.image\";\n")
                                   .arg(JavaScriptString(url)) +
                               kImageGroup +
                               QStringLiteral("  d.writeConfig(\"Image\", url);\n"
                                              "  d.writeConfig(\"FillMode\", 0);\n"
                                              "  if (d.wallpaperPlugin == \"org.kde.image\" && "
                                              "String(d.readConfig(\"Image\")) == url)\n"
                                              "    ++done;\n"
                                              "}\n"
                                              "print(done + \"/\" + ds.length);\n");
        ExpectAll(Evaluate(script, context), context);
    }

    // Every desktop's wallpaper, as Shows saves it.
    std::string ReadDesktops(const std::string& context)
    {
        const QString printed = Evaluate(QStringLiteral("var saved = [];\n"
                                                        "var ds = desktops();\n"
                                                        "for (var i = 0; i < ds.length; ++i) {\n"
                                                        "  var d = ds[i];\n") +
                                             kImageGroup +
                                             QStringLiteral("  saved.push({id: d.id, plugin: String(d.wallpaperPlugin),"
                                                            " image: String(d.readConfig(\"Image\")),"
                                                            " fillMode: String(d.readConfig(\"FillMode\"))});\n"
                                                            "}\n"
                                                            "print(JSON.stringify(saved));\n"),
                                         context);
        return printed.toUtf8().toStdString();
    }

    static bool ShowsOurs(const Saved& desktop, const IOurPictures& ours)
    {
        if (desktop.plugin != QStringLiteral("org.kde.image") || desktop.image.isEmpty())
            return false;
        const QUrl url(desktop.image);
        const QString path = url.isLocalFile() ? url.toLocalFile() : desktop.image;
        return ours.Holds(FilePath(QFile::encodeName(path).toStdString()));
    }

    // The script's printed lines, or AppError with Plasma's error.
    QString Evaluate(const QString& script, const std::string& context)
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kObject, kInterface, QStringLiteral("evaluateScript"));
        call << script;
        const QDBusMessage reply = CallKeepingWindowsPainted(bus_, call, kScriptTimeout);
        if (reply.type() == QDBusMessage::ErrorMessage)
            throw AppError(ECOMM, "Plasma did not run the script: " + reply.errorName().toStdString() + ": " +
                                      reply.errorMessage().simplified().toStdString(),
                           context);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1 ||
            !reply.arguments().front().canConvert<QString>())
            throw AppError(EPROTO, "Plasma answered the script with something other than its output", context);
        return reply.arguments().front().toString().trimmed();
    }

    // "done/all": every desktop took the change, and there was one.
    static void ExpectAll(const QString& printed, const std::string& context)
    {
        const QStringList counts = printed.split(QLatin1Char('/'));
        bool doneIsNumber = false, allIsNumber = false;
        const int done = counts.size() == 2 ? counts[0].toInt(&doneIsNumber) : -1;
        const int all = counts.size() == 2 ? counts[1].toInt(&allIsNumber) : -1;
        if (!doneIsNumber || !allIsNumber)
            throw AppError(EPROTO, "Plasma's script printed " + printed.toStdString() + ", not its count", context);
        if (all == 0)
            throw AppError(ENODEV, "Plasma has no desktop to show the background on", context);
        if (done != all)
            throw AppError(EIO,
                           "Plasma took the change on " + std::to_string(done) + " of its " + std::to_string(all) +
                               " desktops",
                           context);
    }

    static std::vector<Saved> Parse(const std::string& saved, const std::string& context)
    {
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(saved), &error);
        if (error.error != QJsonParseError::NoError || !document.isArray())
            throw AppError(kErrorBadData, "The saved background is not a list of Plasma's desktops", context);
        std::vector<Saved> desktops;
        for (const QJsonValue& value : document.array()) {
            const QJsonObject entry = value.toObject();
            const QJsonValue id = entry.value(QStringLiteral("id"));
            if (!id.isDouble() || id.toDouble() != static_cast<double>(id.toInt()) ||
                !entry.value(QStringLiteral("plugin")).isString() || !entry.value(QStringLiteral("image")).isString() ||
                !entry.value(QStringLiteral("fillMode")).isString())
                throw AppError(kErrorBadData, "The saved background has a desktop that is not one", context);
            desktops.push_back({id.toInt(), entry.value(QStringLiteral("plugin")).toString(),
                                entry.value(QStringLiteral("image")).toString(),
                                entry.value(QStringLiteral("fillMode")).toString()});
        }
        if (desktops.empty())
            throw AppError(kErrorBadData, "The saved background names no desktop", context);
        return desktops;
    }

    QDBusConnection bus_;
};

}  // namespace

QString JavaScriptString(const QString& text)
{
    QString literal = QStringLiteral("\"");
    for (const QChar c : text) {
        const char16_t unit = c.unicode();
        if (unit >= 0x20 && unit < 0x7f && unit != u'"' && unit != u'\\')
            literal += c;
        else
            literal += QStringLiteral("\\u%1").arg(static_cast<uint>(unit), 4, 16, QLatin1Char('0'));
    }
    return literal + QLatin1Char('"');
}

std::unique_ptr<IDesktopBackground> OpenPlasmaBackground()
{
    if (!HasSessionBus())
        return nullptr;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr)
        return nullptr;
    // Only a running shell: the bus is not asked to start one.
    if (!bus.interface()->isServiceRegistered(kService).value())
        return nullptr;
    return std::make_unique<PlasmaBackground>(bus);
}

}  // namespace tarnwick
