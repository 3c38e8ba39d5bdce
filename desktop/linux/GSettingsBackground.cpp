#include "desktop/linux/GSettingsBackground.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/AppError.h"
#include "desktop/linux/SettingsRoad.h"

namespace tarnwick {

namespace {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct VariantUnref {
    void operator()(GVariant* value) const { g_variant_unref(value); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

std::string Take(gchar* text)
{
    std::string result = text != nullptr ? text : "";
    g_free(text);
    return result;
}

// One desktop's keys: where the picture goes (a path or a file:// URI) and the settings that
// make it fill the screen.
struct Keys {
    const char* schema;
    const char* name;
    const char* picture;
    bool pictureIsUri;
    std::vector<std::pair<const char*, const char*>> fill;  // key, value in GVariant text
    std::vector<const char*> kept{};                        // more keys kept and given back
};

const Keys kMate{"org.mate.background",
                 "MATE's background settings (org.mate.background)",
                 "picture-filename",
                 false,
                 {{"picture-options", "'stretched'"}, {"draw-background", "true"}}};
const Keys kCinnamon{"org.cinnamon.desktop.background",
                     "Cinnamon's background settings (org.cinnamon.desktop.background)",
                     "picture-uri",
                     true,
                     {{"picture-options", "'stretched'"}}};
// GNOME's portal writes these (the picture in both colour schemes); they are read and given back.
const Keys kGnome{"org.gnome.desktop.background",
                  "GNOME's background settings (org.gnome.desktop.background)",
                  "picture-uri",
                  true,
                  {{"picture-options", "'stretched'"}},
                  {"picture-uri-dark", "primary-color", "secondary-color", "color-shading-type"}};

// A key and its new value; no value puts the key back to its default.
struct Change {
    std::string key;
    Variant value;
};

class GSettingsBackground : public SettingsRoad {
public:
    GSettingsBackground(const Keys& keys, GSettingsSchema* schema)
        : keys_(keys), schema_(schema), settings_(g_settings_new_full(schema, nullptr, nullptr))
    {
    }

    std::string Name() const override { return keys_.name; }

    // Ours where the picture key names one of our pictures. Saved: the schema's name, then one
    // line per key: the key, and its value as GVariant text where the user has set one (a key
    // alone stands at its default).
    DesktopShows Shows(const IOurPictures& ours) override
    {
        DesktopShows shows{DesktopShows::Whose::theirs, std::string(keys_.schema) + '\n'};
        for (const char* key : SavedKeys()) {
            shows.saved += key;
            if (Variant value{g_settings_get_user_value(Settings(), key)})
                shows.saved += ' ' + Take(g_variant_print(value.get(), FALSE));
            shows.saved += '\n';
        }
        const std::string location = Take(g_settings_get_string(Settings(), keys_.picture));
        // A URI key may hold a plain path too (GNOME's portal writes one).
        const std::string path = keys_.pictureIsUri && location.starts_with("file://")
                                     ? Take(g_filename_from_uri(location.c_str(), nullptr, nullptr))
                                     : location;
        if (!path.empty() && ours.Holds(FilePath(path)))
            shows.whose = DesktopShows::Whose::ours;
        return shows;
    }

    void Restore(const std::string& saved, const FilePath& plainPicture, const IOurPictures& ours) override
    {
        (void)ours;  // one picture for the whole desktop, which the caller found ours
        if (saved.empty()) {
            ShowPlain(plainPicture);
            return;
        }
        const std::string context = "Cannot put back the desktop background through " + Name() + ".";
        std::vector<Change> changes;
        std::string_view rest = saved;
        bool first = true;
        while (!rest.empty()) {
            const size_t end = rest.find('\n');
            const std::string line(rest.substr(0, end));
            rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
            if (first) {
                if (line != keys_.schema)
                    throw AppError(kErrorBadData, "The saved background is not one of " + Name(), context);
                first = false;
                continue;
            }
            const size_t space = line.find(' ');
            const std::string key = line.substr(0, space);
            bool known = false;
            for (const char* savedKey : SavedKeys())
                known = known || key == savedKey;
            if (!known)
                throw AppError(kErrorBadData, "The saved background names a key of its own: " + key, context);
            changes.push_back({key, space == std::string::npos ? nullptr : Parse(key, line.substr(space + 1), context)});
        }
        if (first)
            throw AppError(kErrorBadData, "The saved background is empty", context);
        Write(std::move(changes), context);
    }

private:
    GSettings* Settings() const { return settings_.get(); }

    std::vector<const char*> SavedKeys() const
    {
        std::vector<const char*> keys{keys_.picture};
        for (const auto& [key, value] : keys_.fill)
            keys.push_back(key);
        for (const char* key : keys_.kept)
            if (g_settings_schema_has_key(schema_.get(), key))
                keys.push_back(key);
        return keys;
    }

    Variant Parse(const std::string& key, const std::string& text, const std::string& context) const
    {
        std::unique_ptr<GSettingsSchemaKey, void (*)(GSettingsSchemaKey*)> schemaKey(
            g_settings_schema_get_key(schema_.get(), key.c_str()), g_settings_schema_key_unref);
        GError* error = nullptr;
        Variant value{g_variant_parse(g_settings_schema_key_get_value_type(schemaKey.get()), text.c_str(), nullptr,
                                      nullptr, &error)};
        if (!value) {
            const std::string message = error->message;
            g_error_free(error);
            throw AppError(kErrorBadData, "The value " + text + " for " + key + " is not one: " + message, context);
        }
        if (!g_settings_schema_key_range_check(schemaKey.get(), value.get()))
            throw AppError(kErrorBadData, "The value " + text + " is not one " + key + " takes", context);
        return value;
    }

    void Show(const FilePath& picture, const std::string& context) override
    {
        std::string location;
        if (keys_.pictureIsUri) {
            location = picture.FileUri();
        } else {
            // The key holds text: a path that is not UTF-8 cannot be named there.
            std::error_code error;
            location = std::filesystem::absolute(picture.Native(), error).string();
            if (error)
                throw AppError(static_cast<uint32_t>(error.value()),
                               "Cannot make the picture's path absolute: " + error.message(), context);
            if (!g_utf8_validate(location.data(), static_cast<gssize>(location.size()), nullptr))
                throw AppError(EILSEQ, "The picture's path is not UTF-8 text, which " + Name() + " cannot name",
                               context);
        }
        std::vector<Change> changes;
        changes.push_back({keys_.picture, Variant(g_variant_ref_sink(g_variant_new_string(location.c_str())))});
        for (const auto& [key, text] : keys_.fill)
            changes.push_back({key, Parse(key, text, context)});
        Write(std::move(changes), context);
    }

    // Writes every change at once and waits until the settings store has them; then reads them
    // back, since a store that failed the write gives the old values again.
    void Write(std::vector<Change> changes, const std::string& context)
    {
        GSettingsBackend* backend = nullptr;
        g_object_get(Settings(), "backend", &backend, nullptr);
        const std::string backendType = backend != nullptr ? G_OBJECT_TYPE_NAME(backend) : "";
        if (backend != nullptr)
            g_object_unref(backend);
        if (backendType.empty() || backendType == "GMemorySettingsBackend" || backendType == "GNullSettingsBackend")
            throw AppError(ENOTSUP,
                           "GSettings keeps no settings here (no settings store such as dconf is installed), so the "
                           "desktop would never see the change",
                           context);
        for (const Change& change : changes)
            if (!g_settings_is_writable(Settings(), change.key.c_str()))
                throw AppError(EACCES, "The setting " + change.key + " is locked", context);

        g_settings_delay(Settings());
        for (const Change& change : changes) {
            if (change.value)
                g_settings_set_value(Settings(), change.key.c_str(), change.value.get());
            else
                g_settings_reset(Settings(), change.key.c_str());
        }
        g_settings_apply(Settings());
        g_settings_sync();

        for (const Change& change : changes) {
            Variant now{g_settings_get_value(Settings(), change.key.c_str())};
            Variant wanted{change.value ? g_variant_ref(change.value.get())
                                        : g_settings_get_default_value(Settings(), change.key.c_str())};
            if (!g_variant_equal(now.get(), wanted.get()))
                throw AppError(EIO, "The settings store did not take " + change.key + " (it holds " +
                                        Take(g_variant_print(now.get(), FALSE)) + ")",
                               context);
        }
    }

    const Keys& keys_;
    std::unique_ptr<GSettingsSchema, SchemaUnref> schema_;
    std::unique_ptr<GSettings, GObjectUnref> settings_;
};

std::unique_ptr<IDesktopBackground> Open(const Keys& keys)
{
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr)
        return nullptr;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, keys.schema, TRUE);
    if (schema == nullptr)
        return nullptr;
    bool complete = g_settings_schema_has_key(schema, keys.picture);
    for (const auto& [key, value] : keys.fill)
        complete = complete && g_settings_schema_has_key(schema, key);
    if (!complete) {
        g_settings_schema_unref(schema);
        return nullptr;
    }
    return std::make_unique<GSettingsBackground>(keys, schema);
}

}  // namespace

std::unique_ptr<IDesktopBackground> OpenMateBackground()
{
    return Open(kMate);
}

std::unique_ptr<IDesktopBackground> OpenCinnamonBackground()
{
    return Open(kCinnamon);
}

std::unique_ptr<IDesktopBackground> OpenGnomeBackgroundSettings()
{
    return Open(kGnome);
}

}  // namespace tarnwick
