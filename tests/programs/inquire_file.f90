! INQUIRE by file: existence, the unit connected to a file and its
! answers, the size of a file that is not connected and of one whose
! output may still be held back.
program inquire_file
  implicit none
  character(20) :: a, b, c
  logical :: ex, op, nd
  integer :: num, sz, i

  inquire (file='absent.txt', exist=ex, opened=op, number=num, size=sz)
  print *, 'absent', ex, op, num, sz
  open (20, file='data.txt', status='replace')
  do i = 1, 10
    write (20, '(i5)') i
  end do
  inquire (file='data.txt', exist=ex, opened=op, named=nd, number=num)
  print *, 'connected', ex, op, nd, num
  inquire (file='data.txt', size=sz, access=a, form=b, action=c)
  print *, sz, trim(a), ' ', trim(b), ' ', trim(c)
  close (20)
  inquire (file='data.txt', exist=ex, opened=op, number=num, size=sz)
  print *, 'closed', ex, op, num, sz
  inquire (file='data.txt', access=a, sequential=b, form=c)
  print *, trim(a), ' ', trim(b), ' ', trim(c)
  open (21, file='data.txt', status='old')
  close (21, status='delete')
  inquire (file='data.txt', exist=ex)
  print *, 'deleted', ex
end program inquire_file
