// Lens files for the tests of the lens cache and the fisheye filter, written by the make-lens tool into the
// profile folder of a fresh machine.
#pragma once

#include "testing/TempSystemRoot.h"

#include <string>
#include <vector>

namespace kvtest {

class LensMachine {
public:
    LensMachine();

    // The machine's profile folder, with a final '/'.
    const std::string& Folder() const { return m_folder; }
    std::string LensFile() const { return m_folder + "Kv0080.lns"; }

    // Runs make-lens with the arguments and installs its output as the lens file (or as `name`); true when
    // the tool succeeded. Arguments as on its command line: {"--identity"}, {"--cut", "1000"}, ...
    bool Write(const std::vector<std::string>& arguments, const std::string& name = "Kv0080.lns") const;
    void Remove() const;

private:
    TempSystemRoot m_machine;
    std::string m_folder;
};

} // namespace kvtest
