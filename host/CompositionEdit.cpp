#include "CompositionEdit.hpp"

#include "CompositionFile.hpp"

namespace cvcomp {

namespace {

void applyOne(Composition& composition, const CompositionEdit& edit, const PatchOptions& options) {
  switch (edit.kind) {
    case CompositionEdit::Kind::Add:
      composition.addPatch(edit.target, edit.argument, options);
      return;
    case CompositionEdit::Kind::Remove:
      composition.removePatch(edit.target);
      return;
    case CompositionEdit::Kind::Connect:
      composition.connect(edit.target, edit.argument);
      return;
    case CompositionEdit::Kind::Disconnect:
      composition.disconnect(edit.target);
      return;
    case CompositionEdit::Kind::Set:
      setInputFromText(composition, edit.target, edit.argument);
      return;
    case CompositionEdit::Kind::Publish:
      composition.publish(edit.target);
      return;
    case CompositionEdit::Kind::Unpublish:
      composition.unpublish(edit.target);
      return;
    case CompositionEdit::Kind::Move:
      composition.setPosition(edit.target, edit.position);
      return;
  }
}

void applyAll(Composition& composition, const std::vector<CompositionEdit>& edits,
              const std::optional<std::filesystem::path>& file) {
  for (const CompositionEdit& edit : edits) applyOne(composition, edit, PatchOptions{file});
}

}  // namespace

void applyEdits(Composition& composition, const std::vector<CompositionEdit>& edits,
                const QCNodeManager& manager, const std::string& name,
                const std::optional<std::filesystem::path>& file) {
  try {
    const std::unique_ptr<Composition> trial =
        loadCompositionText(compositionDocument(composition), name, file, manager);
    applyAll(*trial, edits, file);
  } catch (const CompositionError& error) {
    const std::string message = error.what();
    throw CompositionError(message.starts_with(name + ": ") ? message : name + ": " + message);
  }
  applyAll(composition, edits, file);
}

}  // namespace cvcomp
