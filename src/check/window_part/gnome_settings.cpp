// SPDX-License-Identifier: MIT
#include "gnome_settings.h"

#include "input/listing.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

template <typename T> struct Unref {
    void operator()(T *object) const { g_object_unref(object); }
};
template <typename T> using Owned = std::unique_ptr<T, Unref<T>>;

struct VariantUnref {
    void operator()(GVariant *variant) const { g_variant_unref(variant); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

void say(const std::string &line)
{
    std::fprintf(stderr, "kestrilavon-check: %s\n", line.c_str());
}


// mutter's monitors, where mutter answers on the session's bus.
std::optional<std::vector<GnomeMonitor>> mutterMonitors()
{
    if (!sessionBusNamed())
        return std::nullopt;
    GError *error = nullptr;
    const Owned<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    if (!bus) {
        g_clear_error(&error);
        return std::nullopt;
    }
    const Variant reply(g_dbus_connection_call_sync(
        bus.get(), "org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
        "org.gnome.Mutter.DisplayConfig", "GetCurrentState", nullptr,
        G_VARIANT_TYPE("(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})"),
        G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000, nullptr, &error));
    if (!reply) {
        g_clear_error(&error);
        return std::nullopt;
    }
    std::vector<GnomeMonitor> monitors;
    const Variant physical(g_variant_get_child_value(reply.get(), 1));
    for (gsize i = 0; i < g_variant_n_children(physical.get()); ++i) {
        const Variant monitor(g_variant_get_child_value(physical.get(), i));
        const gchar *connector, *vendor, *product, *serial;
        g_variant_get_child(monitor.get(), 0, "(&s&s&s&s)", &connector, &vendor, &product, &serial);
        monitors.push_back({connector, {vendor, product, serial}, false});
    }
    const Variant logical(g_variant_get_child_value(reply.get(), 2));
    for (gsize i = 0; i < g_variant_n_children(logical.get()); ++i) {
        const Variant monitor(g_variant_get_child_value(logical.get(), i));
        guint32 transform = 0;
        g_variant_get_child(monitor.get(), 3, "u", &transform);
        const Variant shown(g_variant_get_child_value(monitor.get(), 5));
        for (gsize j = 0; j < g_variant_n_children(shown.get()); ++j) {
            const gchar *connector;
            g_variant_get_child(shown.get(), j, "(&s&s&s&s)", &connector, nullptr, nullptr, nullptr);
            for (GnomeMonitor &known : monitors) {
                if (known.connector == connector)
                    known.turned = transform != 0;
            }
        }
    }
    return monitors;
}

// The user's touch screen setting at path, in dconf: GSettings would otherwise keep a write in
// memory only, and say it was done.
Owned<GSettings> touchscreenSettings(const std::string &path, std::string *problem)
{
    GSettingsSchemaSource *source = g_settings_schema_source_get_default();
    GSettingsSchema *schema = source ? g_settings_schema_source_lookup(source, kGnomeTouchscreenSchema, TRUE) : nullptr;
    if (!schema) {
        *problem = std::string("GNOME's schema ") + kGnomeTouchscreenSchema + " is not installed";
        return nullptr;
    }
    GSettingsBackend *backend = g_settings_backend_get_default();
    const std::string kind = G_OBJECT_TYPE_NAME(backend);
    Owned<GSettings> settings;
    if (kind == "DConfSettingsBackend")
        settings.reset(g_settings_new_full(schema, backend, path.c_str()));
    else
        *problem = "GSettings stores in " + kind + " here, not in dconf, where GNOME reads it";
    g_object_unref(backend);
    g_settings_schema_unref(schema);
    return settings;
}

std::vector<std::string> outputOf(GSettings *settings)
{
    gchar **strings = g_settings_get_strv(settings, "output");
    std::vector<std::string> output;
    for (gchar **string = strings; *string; ++string)
        output.emplace_back(*string);
    g_strfreev(strings);
    return output;
}

// Sets output, waits until dconf has it, and reads it back.
bool setOutput(GSettings *settings, const std::vector<std::string> &output)
{
    std::vector<const gchar *> strings;
    for (const std::string &string : output)
        strings.push_back(string.c_str());
    strings.push_back(nullptr);
    const bool set = output.empty() ? (g_settings_reset(settings, "output"), true)
                                    : g_settings_set_strv(settings, "output", strings.data());
    g_settings_sync();
    return set && outputOf(settings) == output;
}

} // namespace

bool sessionBusNamed()
{
    if (const char *named = std::getenv("DBUS_SESSION_BUS_ADDRESS"); named && *named)
        return std::strncmp(named, "autolaunch:", 11) != 0;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (!runtime || !*runtime)
        return false;
    const std::string path = std::string(runtime) + "/bus";
    struct stat status;
    if (::lstat(path.c_str(), &status) != 0 || !S_ISSOCK(status.st_mode) || status.st_uid != ::geteuid())
        return false;
    gchar *escaped = g_dbus_address_escape_value(path.c_str());
    ::setenv("DBUS_SESSION_BUS_ADDRESS", (std::string("unix:path=") + escaped).c_str(), 1);
    g_free(escaped);
    return true;
}

std::optional<GnomeMappingChange> settleGnomeMapping(const DeviceInfo &device, int twins,
                                                     const std::string &outputName, bool writing, bool *failed)
{
    *failed = false;
    const std::optional<std::vector<GnomeMonitor>> monitors = mutterMonitors();
    if (!monitors)
        return std::nullopt;
    const std::string path = gnomeTouchscreenPath(device.vendor, device.product);
    std::string problem;
    const Owned<GSettings> settings = touchscreenSettings(path, &problem);
    if (!settings) {
        *failed = writing;
        say("GNOME's mapping of the touch screen onto its monitor cannot be read: " + printable(problem));
        return std::nullopt;
    }
    const std::vector<std::string> before = outputOf(settings.get());
    GnomeMonitor target;
    const GnomeStep step = chooseGnomeStep(*monitors, before, outputName, writing, &target);
    if (step == GnomeStep::SayUnmapped)
        std::fputs(gnomeUnmappedNote().c_str(), stderr);
    if (step == GnomeStep::Unknown)
        say(outputName.empty() ? "note: GNOME has not mapped this touch screen onto a monitor, and with several "
                                 "the one it lies on is not known: name it with --output"
                               : "note: mutter knows no monitor " + printable(outputName)
                                   + ": GNOME's mapping of the touch screen is left as it is");
    if (step != GnomeStep::Map)
        return std::nullopt;
    if (twins > 0)
        std::fputs(gnomeTwinsNote(twins).c_str(), stderr);
    if (!setOutput(settings.get(), target.triple)) {
        setOutput(settings.get(), before);
        *failed = true;
        say("GNOME's mapping of the touch screen onto " + printable(target.connector)
            + " could not be set; nothing was measured");
        return std::nullopt;
    }
    say("GNOME now maps the touch screen onto " + printable(target.connector) + " ("
        + printable(gvariantStrings(target.triple)) + "), before it is measured. To undo that, as this user:\n    "
        + printable(gsettingsUndo(path, before)));
    return GnomeMappingChange{path, before};
}

bool putBackGnomeMapping(const GnomeMappingChange &change)
{
    if (!sessionBusNamed()) {
        say("GNOME's mapping could not be put back: the session's bus is gone. By hand, as this user:\n    "
            + printable(gsettingsUndo(change.path, change.before)));
        return false;
    }
    std::string problem;
    const Owned<GSettings> settings = touchscreenSettings(change.path, &problem);
    const bool back = settings && setOutput(settings.get(), change.before);
    if (back)
        say("GNOME's mapping of the touch screen is put back and read back: "
            + printable(gvariantStrings(change.before)));
    else
        say("GNOME's mapping could not be put back" + (problem.empty() ? "" : ": " + printable(problem))
            + ". By hand, as this user:\n    " + printable(gsettingsUndo(change.path, change.before)));
    return back;
}
