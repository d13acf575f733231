#pragma once
#include <functional>
#include <string>
#include <vector>

namespace tmpl {

// Rewrites the first image tag of every line to refer to its embedded part
// and appends each image file found to `images`, the mail's image list: the
// value of the tag's SRC becomes "cid:IMAGE" + n, n being the image's number
// there; the rest of the tag stays as written. The path is looked up
// as written, then in the template's directory, then as a bare file name.
// An image found nowhere keeps its SRC, is not attached and is reported
// through `report`.
void CollectImages(std::vector<std::string>& lines, const std::string& templatePath, std::vector<std::string>& images,
                   const std::function<void(const std::string&)>& report);

} // namespace tmpl
