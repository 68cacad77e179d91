// Develops several pictures at once on every core: one filter chain per worker thread (a CKvChainDevelop,
// which keeps its tile memory from one picture to its next), each worker taking the next file until none is
// left. A graph is still driven from one thread; the cores are taken by running several graphs. A file that
// fails is reported with its error and the others go on.
#pragma once

#include "CKvChainDevelop.h"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class CKvBatchDevelop {
public:
    struct Job {
        std::string input;
        std::string output; // PNG, JPEG or 16-bit TIFF by its ending (CKvPictureWriter)
    };
    struct Outcome {
        std::string input;
        std::string output;
        std::string error; // empty when the picture was developed and written
    };
    // Settings of a picture just opened, before it develops; an error ends that picture.
    using Prepare = std::function<IPravonError*(CKvChainDevelop& chain)>;
    // Hears each finished file: how many are done, how many there are, and its outcome. Called from the
    // workers, one call at a time.
    using Progress = std::function<void(std::size_t done, std::size_t total, const Outcome& outcome)>;

    // The processor's cores, at least 1.
    static unsigned DefaultWorkers();
    // Develops every job on up to `workers` threads (0: DefaultWorkers()) and returns their outcomes in the
    // jobs' order. When no thread can be started the calling thread develops them all.
    static std::vector<Outcome> Run(const std::vector<Job>& jobs, unsigned workers, const Prepare& prepare,
                                    const Progress& progress);
};
