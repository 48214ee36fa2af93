#include "platform/DockFavorites.h"

// GIO's D-Bus introspection structures have a member named "signals", which Qt defines as a macro.
#pragma push_macro("signals")
#undef signals
#include <gio/gio.h>
#pragma pop_macro("signals")

#include <memory>
#include <vector>

namespace {

constexpr char FavoritesKey[] = "favorite-apps";
constexpr char GnomeShellSchema[] = "org.gnome.shell";
constexpr char CinnamonSchema[] = "org.cinnamon";

struct TSettingsUnref
{
    void operator()(GSettings *Settings) const { g_object_unref(Settings); }
};
using TSettingsPtr = std::unique_ptr<GSettings, TSettingsUnref>;

// GLib aborts the program when a key is read as a type it does not have.
bool HasFavoritesList(GSettingsSchema *Schema)
{
    if (!g_settings_schema_has_key(Schema, FavoritesKey))
        return false;
    GSettingsSchemaKey *Key = g_settings_schema_get_key(Schema, FavoritesKey);
    const bool IsList =
        g_variant_type_equal(g_settings_schema_key_get_value_type(Key), G_VARIANT_TYPE_STRING_ARRAY);
    g_settings_schema_key_unref(Key);
    return IsList;
}

// The schema is looked up before any settings object is made: g_settings_new aborts the program on
// a schema that is not installed.
TSettingsPtr OpenFavorites()
{
    GSettingsSchemaSource *Source = g_settings_schema_source_get_default();
    if (!Source)
        return nullptr;
    for (const QByteArray &Id : DockFavoritesSchemas(qgetenv("XDG_CURRENT_DESKTOP"))) {
        GSettingsSchema *Schema = g_settings_schema_source_lookup(Source, Id.constData(), TRUE);
        if (!Schema)
            continue;
        TSettingsPtr Settings(HasFavoritesList(Schema) ? g_settings_new_full(Schema, nullptr, nullptr)
                                                       : nullptr);
        g_settings_schema_unref(Schema);
        if (Settings && g_settings_is_writable(Settings.get(), FavoritesKey))
            return Settings;
    }
    return nullptr;
}

} // namespace

QList<QByteArray> DockFavoritesSchemas(const QByteArray &CurrentDesktop)
{
    QList<QByteArray> Schemas;
    const auto Add = [&Schemas](const QByteArray &Id) {
        if (!Schemas.contains(Id))
            Schemas.append(Id);
    };
    for (const QByteArray &Name : CurrentDesktop.split(':')) {
        const QByteArray Desktop = Name.trimmed().toLower();
        if (Desktop == "gnome")
            Add(GnomeShellSchema);
        else if (Desktop == "x-cinnamon" || Desktop == "cinnamon")
            Add(CinnamonSchema);
    }
    // Started from outside a desktop session: whichever of the two is there.
    if (CurrentDesktop.trimmed().isEmpty()) {
        Add(GnomeShellSchema);
        Add(CinnamonSchema);
    }
    return Schemas;
}

std::optional<QStringList> ReadDockFavorites()
{
    const TSettingsPtr Settings = OpenFavorites();
    if (!Settings)
        return std::nullopt;
    gchar **Values = g_settings_get_strv(Settings.get(), FavoritesKey);
    QStringList Favorites;
    for (gchar **Value = Values; Value && *Value; ++Value)
        Favorites.append(QString::fromUtf8(*Value));
    g_strfreev(Values);
    return Favorites;
}

bool WriteDockFavorites(const QStringList &Favorites)
{
    const TSettingsPtr Settings = OpenFavorites();
    if (!Settings)
        return false;
    std::vector<QByteArray> Texts;
    Texts.reserve(size_t(Favorites.size()));
    for (const QString &Favorite : Favorites)
        Texts.push_back(Favorite.toUtf8());
    std::vector<const gchar *> Values;
    Values.reserve(Texts.size() + 1);
    for (const QByteArray &Text : Texts)
        Values.push_back(Text.constData());
    Values.push_back(nullptr);
    const bool Written = g_settings_set_strv(Settings.get(), FavoritesKey, Values.data());
    // The desktop's settings daemon takes writes in the background; they must reach it before we end.
    g_settings_sync();
    return Written;
}
