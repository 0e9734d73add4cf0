// Command-line options of the tools: "--name value" or "--name=value",
// declared once with their help text, parsed strictly, with errors worded
// for the user.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace tools {

// What a program does after parsing its command line.
enum class ParseOutcome {
    Run,    // the options are usable
    Help,   // --help: the text holds the usage
    Error,  // the text says what is wrong
};

struct Size2D {
    int width = 0;
    int height = 0;
};

// Parses a whole decimal number in [min, max]; false for anything else,
// including blanks, a trailing character or an overflow.
bool ParseInt(const std::string& text, int min, int max, int& value);

// Parses "WxH" (also "WXH") with both numbers in [1, max].
bool ParseSize(const std::string& text, int max, Size2D& size);

// The options of one program. Each declaration binds an option to a variable
// that keeps its default until the option is given. Used by one thread.
class ArgParser {
public:
    // Turns the text after the option into the variable; false with a reason
    // ("is not ...") when the text is unusable.
    using Converter = std::function<bool(const std::string& text, std::string& reason)>;

    explicit ArgParser(std::string synopsis);

    void Flag(const std::string& name, bool& target, const std::string& help);
    void Int(const std::string& name, int& target, int min, int max, const std::string& help);
    void Text(const std::string& name, const std::string& valueName, std::string& target, const std::string& help);
    void Size(const std::string& name, Size2D& target, int max, const std::string& help);
    void Custom(const std::string& name, const std::string& valueName, Converter convert, const std::string& help);
    // An option whose value may be left out: "--name", "--name value" or
    // "--name=value". A following argument that starts with "--" is the next
    // option, not the value; without a value the target becomes empty.
    void OptionalText(const std::string& name, const std::string& valueName, std::string& target,
                      const std::string& help);

    // Parses the arguments after the program name. On failure, `error` says
    // what is wrong with which argument; earlier options may have been set.
    bool Parse(const std::vector<std::string>& args, std::string& error);

    // Parses and tells the program what to do: Error with the reason in
    // `text`, Help with the usage in `text` when `help` (an option's
    // target) is set, else Run.
    ParseOutcome Outcome(const std::vector<std::string>& args, const bool& help, std::string& text);

    // Whether the option was on the command line.
    bool Given(const std::string& name) const { return given_.count(name) != 0; }

    // The synopsis and one line per option.
    std::string Usage() const;

private:
    struct Option {
        std::string name;       // without the leading dashes
        std::string valueName;  // empty for a flag
        std::string help;
        Converter convert;  // a flag's converter ignores its text
        bool valueOptional = false;
    };
    const Option* Find(const std::string& name) const;

    std::string synopsis_;
    std::vector<Option> options_;
    std::set<std::string> given_;
};

}  // namespace tools
