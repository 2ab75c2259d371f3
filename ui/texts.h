#pragma once

#include <QString>

// Every text the user can see, in one place.
namespace pricelookup::texts {

inline QString MainTitle() {
    return QStringLiteral("Velloran (12/9/2000)");
}
inline QString PartCodeHeader() {
    return QStringLiteral("National Part Code");
}
inline QString DescriptionHeader() {
    return QStringLiteral("Description");
}
inline QString CostPriceHeader() {
    return QStringLiteral("Cost Price");
}
inline QString RetailPriceHeader() {
    return QStringLiteral("Retail Price");
}
inline QString ListColumnHeader() {
    return QStringLiteral("Part No");
}
inline QString SearchFor() {
    return QStringLiteral("Search For:");
}
inline QString SearchButton() {
    return QStringLiteral("Search");
}
inline QString ExitButton() {
    return QStringLiteral("Exit");
}

inline QString NotFoundTitle() {
    return QStringLiteral("Search");
}
inline QString NotFound() {
    return QStringLiteral("Item not Found!");
}

inline QString WaitTitle() {
    return QStringLiteral("Processing...");
}
inline QString WaitLabel() {
    return QStringLiteral("Processing, Please wait");
}

inline QString StartupErrorTitle() {
    return MainTitle();
}
inline QString CannotOpen(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot open the price file %1: %2").arg(path, reason);
}
// Where the current directory has lost its name.
inline QString PriceFileInCurrentFolder() {
    return QStringLiteral("sorted.dat in the current folder");
}
inline QString CannotOpenInLostFolder() {
    return QStringLiteral("Cannot open the price file sorted.dat: the current folder cannot be "
                          "read or no longer exists");
}
// `bytes` in whole megabytes, rounded up, or gigabytes from 10 GB on.
inline QString OutOfMemory(const QString& path, quint64 bytes) {
    const bool large = bytes >= 10'000'000'000ull;
    const quint64 unit = large ? 1'000'000'000ull : 1'000'000ull;
    return QStringLiteral("Not enough memory to load the price file %1 (about %2 %3 needed)")
        .arg(path)
        .arg(bytes / unit + (bytes % unit != 0))
        .arg(large ? QStringLiteral("GB") : QStringLiteral("MB"));
}
inline QString ChangedWhileRead(const QString& path) {
    return QStringLiteral("The price file %1 changed while it was being read; try again when it "
                          "is complete")
        .arg(path);
}
inline QString CannotRead(const QString& path, const QString& reason) {
    return QStringLiteral("Cannot read the price file %1: %2").arg(path, reason);
}

} // namespace pricelookup::texts
