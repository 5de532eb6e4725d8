// The state of the link to the studio, told plainly: while it is lost a banner says so, the
// pictures and values shown are marked stale and the transport shows nothing playing. The live
// connection retries by itself; when the studio answers again with this page's token, `onBack`
// puts its composition on screen; when it answers to another token (started again), the banner
// tells the user to open the address it printed.
import {reachability} from './api.js';

const messages = {
  unreachable: 'The studio is not answering: what is shown is the last state it sent. Retrying…',
  'new token':
    'The studio was started again with a new access token: open the address it printed ' +
    '(or start it with the same CVCOMP_STUDIO_TOKEN to keep this page).',
};

export function watchConnection(banner, onBack) {
  let lost = false;
  let asking = false;
  return async function showState(state) {
    if (state === 'connected') {
      banner.hidden = true;
      document.body.dataset.connection = 'live';
      if (lost) onBack();
      lost = false;
      return;
    }
    lost = true;
    document.body.dataset.connection = 'lost';
    if (asking) return;
    asking = true;
    const reach = await reachability();
    asking = false;
    if (!lost) return;
    banner.textContent = messages[reach] ?? messages.unreachable;
    banner.dataset.reason = reach;
    banner.hidden = false;
  };
}
