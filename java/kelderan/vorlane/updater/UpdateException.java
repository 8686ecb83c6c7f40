package kelderan.vorlane.updater;

/** A check or an apply that could not be done; its message is fit to show a user. */
public class UpdateException extends Exception {
    private static final long serialVersionUID = 1L;

    public UpdateException(String message) {
        super(message);
    }

    public UpdateException(String message, Throwable cause) {
        super(message, cause);
    }
}
