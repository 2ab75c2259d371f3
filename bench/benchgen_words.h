#pragma once

// The words the generator builds descriptions from.

#include <string_view>

namespace pricelookup::benchgen {

struct Phrase {
    constexpr Phrase(const char* t) : text(t), words(1) {
        for (char c : text)
            words += c == ' ';
    }
    std::string_view text;
    int words;
};

// Part names that start a description.
inline constexpr Phrase kBases[] = {
    "Brake pad",
    "Brake disc",
    "Brake shoe",
    "Brake caliper",
    "Brake hose",
    "Oil filter",
    "Air filter",
    "Fuel filter",
    "Cabin filter",
    "Wiper blade",
    "Wiper arm",
    "Spark plug",
    "Glow plug",
    "Timing belt",
    "Timing chain",
    "Drive belt",
    "Water pump",
    "Fuel pump",
    "Oil pump",
    "Clutch kit",
    "Clutch cable",
    "Wheel bearing",
    "Shock absorber",
    "Coil spring",
    "Track rod end",
    "Ball joint",
    "Anti roll bar link",
    "Cylinder head gasket",
    "Exhaust clamp",
    "Exhaust manifold gasket",
    "Thermostat",
    "Radiator",
    "Radiator hose",
    "Alternator",
    "Starter motor",
    "Ignition coil",
    "Lambda sensor",
    "Headlamp bulb",
    "Headlamp unit",
    "Tail lamp",
    "Indicator lens",
    "Mirror glass",
    "Door handle",
    "Window regulator",
    "Bolt",
    "Nut",
    "Washer",
    "Screw",
    "Clip",
    "O-ring",
    "Oil seal",
    "Suspension bush",
    "Gasket",
    "Blade fuse",
    "Relay",
    "Battery",
    "CV joint",
    "Driveshaft",
    "Engine mounting",
    "Gearbox mounting",
    "Hub nut",
    "Wheel stud",
    "Camshaft sensor",
    "Crankshaft sensor",
    "Brake fluid",
    "Engine oil",
    "Coolant",
    "Grease",
    "Heater matrix",
    "Fan belt",
    "Pollen filter",
    "Brake master cylinder",
    "Suspension wishbone",
    "Stabiliser link",
    "Turbocharger",
    "Intercooler hose",
    "Catalytic converter",
    "Particulate filter",
    "Transmission filter",
    "Washer pump",
    "Power steering pump",
    "Compressor",
    "Condenser",
    "Expansion valve",
    "Brake light switch",
    "Handbrake cable",
    "Accelerator cable",
    "Crankshaft pulley",
    "Tensioner pulley",
    "Idler pulley",
    "Flywheel",
    "Release bearing",
    "Propshaft coupling",
    "Differential seal",
    "Fuel injector",
    "Injector seal",
    "Throttle body",
    "EGR valve",
    "Sump gasket",
    "Rocker cover gasket",
    "Valve stem seal",
    "Piston ring set",
    "Conrod bearing",
    "Exhaust silencer",
    "Tailpipe",
    "Mud flap",
    "Number plate lamp",
    "Fog lamp",
    "Washer jet",
    "Door lock actuator",
    "Bonnet release cable",
    "Tailgate strut",
    "Seat belt buckle",
};

// Words that follow the part name: where, what kind, what size, what make.
inline constexpr Phrase kPositions[] = {
    "front",     "rear",       "upper",      "lower",     "inner",       "outer",
    "left-hand", "right-hand", "nearside",   "offside",   "front-left",  "front-right",
    "rear-left", "rear-right", "front axle", "rear axle", "driver side", "passenger side",
};
inline constexpr Phrase kKinds[] = {
    "element",        "kit",          "set",
    "assembly",       "housing",      "replacement",
    "repair kit",     "mounting",     "complete",
    "with sensor",    "with bearing", "reconditioned",
    "remanufactured", "exchange",     "conversion kit",
    "insert",
};
inline constexpr Phrase kSizes[] = {
    "450mm",   "500mm",          "600mm",          "650mm",     "M8x25",     "M10x1.25",
    "12-volt", "24-volt",        "55-watt",        "21/5W",     "1-litre",   "5-litre",
    "3/8in",   "280mm-diameter", "320mm-diameter", "19mm",      "5W-30",     "10W-40",
    "1200mm",  "70Ah",           "120-amp",        "32mm-bore", "1.6-litre", "2.0-litre",
};
inline constexpr Phrase kMakes[] = {
    "steel",      "rubber",           "ceramic",     "heavy-duty",       "genuine",
    "OE-quality", "universal",        "zinc-plated", "stainless",        "reinforced",
    "premium",    "economy",          "performance", "vehicle-specific", "aftermarket",
    "galvanised", "high-temperature", "motorsport",
};
inline constexpr Phrase kFitments[] = {
    "diesel",          "petrol",           "automatic",   "manual",     "estate",
    "hatchback",       "saloon",           "convertible", "commercial", "turbodiesel",
    "left-hand-drive", "right-hand-drive", "4x4",
};

} // namespace pricelookup::benchgen
