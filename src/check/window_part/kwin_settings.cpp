// SPDX-License-Identifier: MIT
#include "kwin_settings.h"

#include "desktops/kwin_input.h"
#include "gnome_settings.h"
#include "input/listing.h"

#include <gio/gio.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>

namespace {

constexpr char kInterface[] = "org.kde.KWin.InputDevice";

struct BusUnref {
    void operator()(GDBusConnection *bus) const { g_object_unref(bus); }
};
using Bus = std::unique_ptr<GDBusConnection, BusUnref>;

struct VariantUnref {
    void operator()(GVariant *variant) const { g_variant_unref(variant); }
};
using Variant = std::unique_ptr<GVariant, VariantUnref>;

void say(const std::string &line)
{
    std::fprintf(stderr, "kestrilavon-check: %s\n", line.c_str());
}

Bus sessionBus()
{
    if (!sessionBusNamed())
        return nullptr;
    GError *error = nullptr;
    Bus bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error));
    g_clear_error(&error);
    return bus;
}

// A property call on the device's object; KWin is never started for it. *problem, where given,
// gets D-Bus's error.
Variant callProperties(GDBusConnection *bus, const std::string &object, const char *method, GVariant *arguments,
                       const GVariantType *replyType, std::string *problem = nullptr)
{
    GError *error = nullptr;
    Variant reply(g_dbus_connection_call_sync(bus, "org.kde.KWin", object.c_str(), "org.freedesktop.DBus.Properties",
                                              method, arguments, replyType, G_DBUS_CALL_FLAGS_NO_AUTO_START, 5000,
                                              nullptr, &error));
    if (error && problem)
        *problem = error->message;
    g_clear_error(&error);
    return reply;
}

std::optional<std::string> outputNameOf(GDBusConnection *bus, const std::string &object)
{
    const Variant reply = callProperties(bus, object, "Get", g_variant_new("(ss)", kInterface, "outputName"),
                                         G_VARIANT_TYPE("(v)"));
    if (!reply)
        return std::nullopt;
    const Variant value(g_variant_get_child_value(reply.get(), 0));
    const Variant name(g_variant_get_variant(value.get()));
    if (!g_variant_is_of_type(name.get(), G_VARIANT_TYPE_STRING))
        return std::nullopt;
    return std::string(g_variant_get_string(name.get(), nullptr));
}

// Sets outputName, and reads it back: KWin leaves it as it was for a name no output has. Why
// not goes in *problem, where given.
bool setOutputName(GDBusConnection *bus, const std::string &object, const std::string &name,
                   std::string *problem = nullptr)
{
    const Variant reply = callProperties(
        bus, object, "Set", g_variant_new("(ssv)", kInterface, "outputName", g_variant_new_string(name.c_str())),
        nullptr, problem);
    if (!reply)
        return false;
    const std::optional<std::string> now = outputNameOf(bus, object);
    if (now != name && problem)
        *problem = now ? "KWin reads back \"" + *now + "\"" : "KWin's device gave no output to read back";
    return now == name;
}

} // namespace

std::optional<std::string> kwinOutputName(const std::string &node)
{
    const std::string object = kwinDeviceObject(node);
    const Bus bus = object.empty() ? nullptr : sessionBus();
    return bus ? outputNameOf(bus.get(), object) : std::nullopt;
}

std::optional<KWinOutputChange> settleKWinOutput(const std::string &node, const std::string &current,
                                                 const std::vector<std::string> &outputs,
                                                 const std::string &outputName, bool writing, bool *failed)
{
    *failed = false;
    std::string target;
    const GnomeStep step = chooseKWinStep(outputs, current, outputName, writing, &target);
    if (step == GnomeStep::Unknown)
        say(outputName.empty() ? "note: KWin has not mapped this touch screen onto an output, and with several "
                                 "the one it lies on is not known: name it with --output"
                               : "note: KWin knows no output " + printable(outputName)
                                   + ": KWin's output for the touch screen is left as it is");
    if (step != GnomeStep::Map)
        return std::nullopt;
    const std::string object = kwinDeviceObject(node);
    if (!kwinOutputNameFits(current)) {
        say("note: KWin's output for the touch screen holds a name this program could not put back: it is left "
            "as it is");
        return std::nullopt;
    }
    const Bus bus = sessionBus();
    if (!bus || !setOutputName(bus.get(), object, target)) {
        if (bus)
            setOutputName(bus.get(), object, current);
        *failed = true;
        say("KWin's output for the touch screen could not be set to " + printable(target) + "; nothing was measured");
        return std::nullopt;
    }
    say("KWin now maps the touch screen onto " + printable(target) + ", before it is measured. To undo that, as "
        "this user:\n    " + printable(kwinOutputUndo(object, current)));
    return KWinOutputChange{object, current};
}

bool putBackKWinOutput(const KWinOutputChange &change)
{
    const Bus bus = sessionBus();
    std::string problem = "the session's bus is gone";
    bool back = false;
    // Just after a re-add, KWin's object for the device may not be there yet, or not yet hold
    // what KWin keeps for it: asked again for a few seconds.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (bus && !(back = setOutputName(bus.get(), change.object, change.before, &problem))
           && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    if (back)
        say("KWin's output for the touch screen is put back and read back: \"" + printable(change.before) + "\"");
    else
        say("KWin's output for the touch screen could not be put back (" + printable(problem)
            + "). By hand, as this user:\n    " + printable(kwinOutputUndo(change.object, change.before)));
    return back;
}
