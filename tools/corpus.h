// A corpus: the clips (meta files) or pictures that one labeler-tool run goes through, each written to a place of
// its own named after its file, so that clips and pictures of one run never overwrite each other's output.
#ifndef LABELER_TOOLS_CORPUS_H_
#define LABELER_TOOLS_CORPUS_H_

#include <string>
#include <vector>

namespace labeler::tool {

// The file-name stems of `paths` ("a" for "clips/a.meta"), in their order. Throws FatalError naming both files
// when two share a stem, as their outputs would land on each other.
std::vector<std::string> DistinctStems(const std::vector<std::string>& paths);

// DistinctStems for outputs that go to a folder named after each file: also throws FatalError for a stem that
// names no folder of its own ("..meta" and "...meta" would write into the output folder or beside it).
std::vector<std::string> DistinctFolderNames(const std::vector<std::string>& paths);

// Creates `folder` and its parents as needed. Throws FatalError naming it when it can't be made.
void CreateOutputFolder(const std::string& folder);

}  // namespace labeler::tool

#endif  // LABELER_TOOLS_CORPUS_H_
