#include <gtest/gtest.h>

#include "driver/Rv8Library.h"

namespace rv8 {
namespace {

TEST(LibraryLoading, AMissingLibraryNamesEveryPlaceTried) {
    try {
        Rv8Library lib({QStringLiteral("/nonexistent/rv8"), QStringLiteral("rv8-not-here")});
        FAIL() << "loaded a library that does not exist";
    } catch (const DriverUnavailable& e) {
        const std::string what = e.what();
        EXPECT_NE(what.find("\"rv8\""), std::string::npos) << what;
        EXPECT_NE(what.find("/nonexistent/rv8"), std::string::npos) << what;
        EXPECT_NE(what.find("rv8-not-here"), std::string::npos) << what;
    }
}

TEST(LibraryLoading, AMissingLibraryTellsWhatToDoOnItsLastLine) {
    try {
        Rv8Library lib({QStringLiteral("/nonexistent/rv8")});
        FAIL() << "loaded a library that does not exist";
    } catch (const DriverUnavailable& e) {
        const QString what = QString::fromStdString(e.what());
        const QStringList lines = what.split(QLatin1Char('\n'));
        ASSERT_EQ(lines.size(), 3) << e.what();
        EXPECT_EQ(lines[0], "The instrument driver library \"rv8\" could not be loaded. Tried:");
        EXPECT_TRUE(lines[1].startsWith("  /nonexistent/rv8: ")) << e.what();
        for (const char* part : {"simulated instrument", "scripts/run", "rv8scope-simulator",
                                 "librv8.so", "next to the program", "library search path"}) {
            EXPECT_TRUE(lines[2].contains(QLatin1String(part))) << part << " in " << e.what();
        }
    }
}

TEST(LibraryLoading, FunctionsResolveOnFirstCallAndAMissingOneIsReported) {
    Rv8Library lib({QStringLiteral(PARTIAL_DRIVER)});
    lib.InitInstrument(776);
    EXPECT_EQ(lib.GetMaxSampleFrequency(), 4321);
    int32_t serial = 0;
    try {
        lib.GetSerialNumber(serial);
        FAIL() << "called a function the library lacks";
    } catch (const DriverUnavailable& e) {
        EXPECT_NE(std::string(e.what()).find("GetSerialNumber"), std::string::npos) << e.what();
    }
    // The library stays usable after the miss.
    EXPECT_EQ(lib.GetMaxSampleFrequency(), 4321);
}

}  // namespace
}  // namespace rv8
