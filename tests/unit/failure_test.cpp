// The failure report's text and the identification of the raise site.

#include <gtest/gtest.h>

#include "cli/process.hpp"
#include "text/failure.hpp"

using namespace vardel;

TEST(FailureReport, ExactBytes) {
    const DriverFailure failure{FailureKind::Conversion, "'%s' n'est pas une valeur en virgule flottante correcte",
                                "abc", 0x0040A1B2};
    EXPECT_EQ(buildFailureReport(failure, "vardel1", toAnsi),
              "Exception EConvertError dans le module vardel1 \xE0 0040A1B2.\n"
              "'abc' n'est pas une valeur en virgule flottante correcte.");
    const DriverFailure integer{FailureKind::Conversion, "'%s' n'est pas une valeur entière correcte", "\xE9,", 1};
    EXPECT_EQ(buildFailureReport(integer, "vardel3", toAnsi),
              "Exception EConvertError dans le module vardel3 \xE0 00000001.\n"
              "'\xE9,' n'est pas une valeur enti\xE8re correcte.");
}

TEST(FailureReport, MessagesOfEveryKind) {
    auto message = [](FailureKind kind, std::string format) {
        const std::string report = buildFailureReport({kind, std::move(format), {}, 0}, "p", toAnsi);
        return report.substr(report.find('\n') + 1);
    };
    EXPECT_EQ(message(FailureKind::Overflow, "Débordement en virgule flottante"),
              "D\xE9" "bordement en virgule flottante.");
    EXPECT_EQ(message(FailureKind::InvalidOperation, "Opération en virgule flottante incorrecte"),
              "Op\xE9ration en virgule flottante incorrecte.");
    EXPECT_EQ(message(FailureKind::Output, outputFailureMessage(5)), "Acc\xE8s au fichier refus\xE9.");
    EXPECT_EQ(message(FailureKind::Output, outputFailureMessage(100)), "Lecture au-del\xE0 de la fin de fichier.");
    EXPECT_EQ(message(FailureKind::Output, outputFailureMessage(101)), "Disque plein.");
    EXPECT_EQ(message(FailureKind::Output, outputFailureMessage(32)), "Erreur E/S 32.");
    EXPECT_EQ(message(FailureKind::Output, ""), "");
    EXPECT_EQ(message(FailureKind::Output, "fin."), "fin.");
}

std::uint_least32_t callersLine(const SourceLocation& where = SourceLocation::current()) { return where.line(); }

// The raise functions take their location from a default argument: it must
// be the line of the call.
TEST(FailureReport, DefaultLocationIsTheCallersLine) {
    const std::uint_least32_t line = __LINE__ + 1;
    EXPECT_EQ(callersLine(), line);
    EXPECT_NE(std::string_view(SourceLocation::current().file_name()).find("failure_test.cpp"), std::string_view::npos);
}

TEST(FailureReport, LocationsAreStablePerSite) {
    const auto here = SourceLocation::current();
    EXPECT_EQ(locationOf(here), locationOf(here));
    const auto there = SourceLocation::current();
    EXPECT_NE(locationOf(here), locationOf(there));
}
