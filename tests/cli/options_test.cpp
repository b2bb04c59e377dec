// The option parser's problems: each one's wording, and which one is named
// when several arise (the first problem in the arguments, then the broken
// rule of the lowest rank, whatever the order of the options).
#include "Options.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

using namespace cli;

namespace {

TEST(Options, EachProblemIsWordedAndTheFirstIsNamed) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"--bogus", "--send"}, "unknown option '--bogus'"},
        {{"--send"}, "option '--send' needs a value in UTF-8"},
        {{"--send", ""}, "--send needs a port: its name, a part of it, or its address"},
        {{"--receive", ""}, "--receive needs a source: its name, a part of it, or its address"},
        {{"--output", ""}, "--output needs a file name"},
        {{"--input", "a", "--input", "b"}, "--input may be given once"},
        {{"--rate", "0", "--send", "a", "--send", "b"},
         "--rate takes a whole number of bytes a "
         "second from 1 to 10000000, or max"},
        {{"--interval", "1e3"}, "--interval takes a whole number of milliseconds from 0 to 60000"},
        {{"--rate", "5", "--count", "0"}, "--count takes a whole number from 1 to 1000000000"},
        {{"--receive", "y", "--syx", "--decode", "--send", "x"},
         "--send cannot be used with --decode"},
        {{"--input", "f", "--syx", "--decode", "--receive", "y"},
         "--syx and --decode cannot be used together with --receive"},
        {{"set x", "--input", "f", "--decode", "--syx"},
         "--syx with --decode or --send reads a .syx stream and takes no commands"},
        {{"set x", "--rate", "5", "--input", "f"},
         "--input cannot be used with commands or --receive"},
        {{"set x", "--list-ports", "--interval", "5"}, "--rate and --interval are for --send"},
        {{"set x", "--count", "3", "--list-inputs"},
         "--list-ports and --list-inputs take no commands, --send or --receive"},
        {{"--timeout", "5"}, "--count and --timeout are for --receive"},
        {{"set x", "--check", "--receive", "y"}, "--receive cannot be used with --send or --check"},
        {{"--receive", "y", "set x"}, "--receive takes no commands"},
    };
    for (const auto& [args, problem] : cases) {
        const std::vector<Argument> arguments = Arguments(args);
        std::ostringstream err;
        EXPECT_FALSE(ParseOptions(arguments, err)) << problem;
        EXPECT_EQ("vantrel-convert: " + problem + "\nTry 'vantrel-convert --help'.\n", err.str());
    }
}

} // namespace
